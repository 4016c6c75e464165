// The module's pieces that need no gateway: its settings, the event stream's reader and the
// level bar, with the inputs the real gateway never gives them.
import type { CompanionOptionValues } from '@companion-module/base'
import { describe, expect, test } from 'vitest'
import { parseConfig, type Config, type Settings } from '../src/config.js'
import { levelBar } from '../src/level_bar.js'
import { readEvents } from '../src/sse.js'
import { upgradeScripts } from '../src/upgrades.js'

describe('settings', () => {
	test('an address without http:// or https:// is refused, saying why', () => {
		expect(parseConfig({ url: '127.0.0.1:8023' }, undefined)).toBe('the gateway URL is not a URL: 127.0.0.1:8023')
		expect(parseConfig({ url: 'localhost:8023' }, undefined)).toBe(
			'the gateway URL must start with http:// or https:// (localhost: given)',
		)
	})

	test("an https:// gateway's fingerprint is taken in either spelling; a CA or fingerprint needs https://", () => {
		const hex = 'ab'.repeat(32)
		const pinned = parseConfig({ url: 'https://127.0.0.1:8023', fingerprint: ` ${hex} ` }, undefined) as Settings
		expect(pinned.fingerprint).toBe(Array(32).fill('AB').join(':'))
		const colons = parseConfig(
			{ url: 'https://127.0.0.1:8023', fingerprint: pinned.fingerprint.toLowerCase() },
			undefined,
		)
		expect((colons as Settings).fingerprint).toBe(pinned.fingerprint)
		expect(parseConfig({ url: 'https://127.0.0.1:8023', fingerprint: 'ab:cd' }, undefined)).toBe(
			'the fingerprint is not a SHA-256 one (64 hex digits)',
		)
		expect(parseConfig({ url: 'http://127.0.0.1:8023', ca: '/etc/vantrel/ca.pem' }, undefined)).toBe(
			'a CA file or fingerprint needs an https:// gateway URL',
		)
	})

	test('a gateway under a path is called below it; units are listed once; the token is trimmed', () => {
		const settings = parseConfig(
			{ url: 'http://127.0.0.1:8023/vantrel', units: ' 127.0.0.2, ttyUSB0\t127.0.0.2,,' },
			{ token: ' rack-token-0123456789 \n' },
		) as Settings
		expect(new URL('api/meta', settings.base).href).toBe('http://127.0.0.1:8023/vantrel/api/meta')
		expect([settings.units, settings.token]).toEqual([['127.0.0.2', 'ttyUSB0'], 'rack-token-0123456789'])
		expect((parseConfig({ units: ' , ' }, undefined) as Settings).units).toBe('all')
	})

	test('a backup gateway URL is read as the first is, and must start as it does', () => {
		const settings = parseConfig(
			{ url: 'http://127.0.0.1:8023', backupUrl: ' http://127.0.0.2:8023/vantrel ' },
			undefined,
		) as Settings
		expect([settings.base.href, settings.backup?.href]).toEqual([
			'http://127.0.0.1:8023/',
			'http://127.0.0.2:8023/vantrel/',
		])
		expect((parseConfig({ backupUrl: ' ' }, undefined) as Settings).backup).toBeNull()
		expect(parseConfig({ backupUrl: '127.0.0.2:8023' }, undefined)).toBe(
			'the backup gateway URL is not a URL: 127.0.0.2:8023',
		)
		expect(parseConfig({ url: 'https://127.0.0.1:8023', backupUrl: 'http://127.0.0.2:8023' }, undefined)).toBe(
			'the backup gateway URL must start as the gateway URL does',
		)
	})
})

// A stream that gives `text` in reads of `size` bytes, as the network may cut it.
function cutInto(text: string, size: number): ReadableStream<Uint8Array> {
	const bytes = new TextEncoder().encode(text)
	return new ReadableStream({
		start(controller) {
			for (let at = 0; at < bytes.length; at += size) controller.enqueue(bytes.slice(at, at + size))
			controller.close()
		},
	})
}

describe('the event stream', () => {
	const text =
		'event: unit\r\ndata: {"label":\r\ndata:"◀ 2 ch"}\r\n\r\n: keep-alive\n\n' +
		'data: unnamed\n\nevent: no-data\n\nevent: outcome\ndata: {}\n\ndata: cut off'
	test.each([1, text.length])('events come whole in reads of %i bytes; a last one unended is dropped', async (size) => {
		const events: string[][] = []
		await readEvents(cutInto(text, size), (name, data) => events.push([name, data]))
		expect(events).toEqual([
			['unit', '{"label":\n"◀ 2 ch"}'],
			['message', 'unnamed'],
			['outcome', '{}'],
		])
	})

	test('a comment alone counts as heard, so a quiet stream is not taken as lost', async () => {
		let heard = 0
		const events: string[] = []
		await readEvents(
			cutInto(': keep-alive\n\n', 100),
			(name) => events.push(name),
			() => heard++,
		)
		expect([events, heard]).toEqual([[], 1])
	})
})

test('a level bar is filled in proportion to its value, kept within its range', () => {
	const filled = (value: number, highest: number) => {
		const pixels = Buffer.from(levelBar(value, highest, 10, 40).imageBuffer, 'base64')
		return [...Array(10).keys()].filter((x) => pixels[x * 4 + 1] === 0xcc).length
	}
	expect([filled(20, 40), filled(-3, 40), filled(55, 40), filled(5, 0)]).toEqual([5, 0, 10, 0])
})

test("a level_set made with one value field keeps its value in its level's own field", () => {
	const action = (actionId: string, options: CompanionOptionValues) => ({
		id: 'a1',
		controlId: 'c1',
		actionId,
		options,
	})
	const props = {
		config: null,
		secrets: null,
		feedbacks: [],
		actions: [
			action('level_set', { units: ['*'], level: 'lcd-brightness', value: 7 }),
			action('level_step', { units: ['*'], level: 'volume', step: 'up' }),
		],
	}
	const result = upgradeScripts[0]({ currentConfig: {} as Config }, props)
	expect(result.updatedActions).toEqual([
		action('level_set', { units: ['*'], level: 'lcd-brightness', value_lcd_brightness: 7 }),
	])
})
