import type { SomeCompanionConfigField } from '@companion-module/base'

/** What the connection's settings hold; the token is kept in Companion's secrets store. */
export interface Config {
	url: string
	/** Another gateway of the same cluster, followed when the first does not answer. */
	backupUrl: string
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
	/** The backup gateway's URL; null for none. */
	backup: URL | null
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
		{
			type: 'textinput',
			id: 'backupUrl',
			label:
				'Backup gateway URL (blank for none): another gateway of the same cluster, followed when the ' +
				'one followed does not answer',
			default: '',
			width: 8,
		},
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
	const base = parseUrl('gateway URL', config.url || DEFAULT_URL)
	if (typeof base === 'string') return base
	const backup = config.backupUrl?.trim() ? parseUrl('backup gateway URL', config.backupUrl.trim()) : null
	if (typeof backup === 'string') return backup
	// One CA file or fingerprint is checked against both.
	if (backup && backup.protocol !== base.protocol) return 'the backup gateway URL must start as the gateway URL does'
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
		backup,
		token: (secrets?.token ?? '').trim(),
		units: names.length ? [...new Set(names)] : 'all',
		ca,
		fingerprint: hex.replace(/(..)(?!$)/g, '$1:'),
		confirmUpTo,
	}
}

// A gateway's URL, ending in / so that the API's paths go below it; or why it cannot be one.
function parseUrl(what: string, text: string): URL | string {
	let url: URL
	try {
		url = new URL(text)
	} catch {
		return `the ${what} is not a URL: ${text}`
	}
	if (url.protocol !== 'http:' && url.protocol !== 'https:') {
		return `the ${what} must start with http:// or https:// (${url.protocol} given)`
	}
	if (!url.pathname.endsWith('/')) url.pathname += '/'
	return url
}
