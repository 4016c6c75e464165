import type { SomeCompanionConfigField } from '@companion-module/base'

/** What the connection's settings hold; the token is kept in Companion's secrets store. */
export interface Config {
	url: string
	units: string
	/** For an https:// gateway: a CA file to trust, and/or its certificate's SHA-256 fingerprint. */
	ca: string
	fingerprint: string
	confirmUpTo: number
}
export interface Secrets {
	token: string
}

/** The settings checked: a usable gateway URL, and the units to follow ('all' or a list). */
export interface Settings {
	base: URL
	token: string
	units: 'all' | string[]
	/** The CA file's path, and the fingerprint as hex pairs with colons, upper case. */
	ca: string
	fingerprint: string
	/** The most units a group action may pick for the module to confirm their count itself. */
	confirmUpTo: number
}

export const DEFAULT_URL = 'http://127.0.0.1:8023/'

export function configFields(): SomeCompanionConfigField[] {
	return [
		{
			type: 'static-text',
			id: 'info',
			label: 'vantrel-gateway',
			value:
				'The gateway serves every unit of the rack. Without a token it answers only on its loopback name ' +
				'(127.0.0.1 or localhost), so run Companion on the same machine or give the gateway a token.',
			width: 12,
		},
		{ type: 'textinput', id: 'url', label: 'Gateway URL', default: DEFAULT_URL, width: 8 },
		{ type: 'secret-text', id: 'token', label: 'Token (if the gateway has one)', default: '', width: 8 },
		{
			type: 'textinput',
			id: 'ca',
			label: "https:// only: CA file that signed the gateway's certificate (blank for the system's)",
			default: '',
			width: 12,
		},
		{
			type: 'textinput',
			id: 'fingerprint',
			label: "https:// only: the gateway certificate's SHA-256 fingerprint, to trust it alone",
			default: '',
			width: 12,
		},
		{
			type: 'textinput',
			id: 'units',
			label: 'Units (blank for all, or a list: 127.0.0.2, ttyUSB0)',
			default: '',
			width: 12,
		},
		{
			type: 'number',
			id: 'confirmUpTo',
			label:
				"Group actions: confirm the count for you up to this many units (0: never; past the gateway's " +
				'--group-limit an action without it is refused)',
			default: 0,
			min: 0,
			max: 100000,
			width: 12,
		},
	]
}

/** The settings, or why they cannot be used. */
export function parseConfig(config: Partial<Config>, secrets: Partial<Secrets> | undefined): Settings | string {
	let base: URL
	try {
		base = new URL(config.url || DEFAULT_URL)
	} catch {
		return `the gateway URL is not a URL: ${config.url}`
	}
	if (base.protocol !== 'http:' && base.protocol !== 'https:') {
		return `the gateway URL must start with http:// or https:// (${base.protocol} given)`
	}
	if (!base.pathname.endsWith('/')) base.pathname += '/'
	const names = (config.units ?? '')
		.split(/[\s,]+/)
		.map((name) => name.trim())
		.filter((name) => name !== '')
	const hex = (config.fingerprint ?? '').replace(/[\s:]/g, '').toUpperCase()
	if (hex && !/^[0-9A-F]{64}$/.test(hex)) return 'the fingerprint is not a SHA-256 one (64 hex digits)'
	const ca = (config.ca ?? '').trim()
	if ((ca || hex) && base.protocol !== 'https:') return 'a CA file or fingerprint needs an https:// gateway URL'
	const confirmUpTo = Number(config.confirmUpTo ?? 0)
	if (!Number.isInteger(confirmUpTo) || confirmUpTo < 0) return 'the count to confirm is not a whole number of units'
	return {
		base,
		token: (secrets?.token ?? '').trim(),
		units: names.length ? [...new Set(names)] : 'all',
		ca,
		fingerprint: hex.replace(/(..)(?!$)/g, '$1:'),
		confirmUpTo,
	}
}
