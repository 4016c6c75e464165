// The module against the real vantrel-gateway and simulated units, with a fake of Companion's
// host. Run inside a network namespace that has only lo (see ./test-in-namespace).
import { afterAll, beforeAll, describe, expect, test } from 'vitest'
import { realClock, type Clock } from '../src/host.js'
import { Rack } from '../src/rack.js'
import { variableId } from '../src/variables.js'
import { FakeHost } from './fake_host.js'
import { freshWorkFolder, GatewayProcess, Sim } from './processes.js'
import { waitFor } from './wait.js'

const POLL_MS = 1000
const UNITS = ['127.0.80.2', '127.0.80.3', '127.0.80.4']
const TOKEN_UNIT = '127.0.80.5'
const OPERATOR_TOKEN = 'rack-companion-51c7-operator'
const VIEWER_TOKEN = 'rack-wall-display-9e02-viewer'

// The real clock, with every pause the module asks for recorded.
function recordingClock(pauses: number[]): Clock {
	return { now: realClock.now, sleep: (ms, signal) => (pauses.push(ms), realClock.sleep(ms, signal)) }
}

const sims = UNITS.map((address) => new Sim(address))
const gateway = new GatewayProcess(8090, UNITS)
const host = new FakeHost()
const pauses: number[] = []
const rack = new Rack(host, recordingClock(pauses))

beforeAll(async () => {
	freshWorkFolder()
	await Promise.all(sims.map((sim) => sim.start()))
	await gateway.start()
	await rack.configure({ url: gateway.url, units: '' }, { token: '' })
	await waitFor(
		'the module connected, every unit up',
		() => host.status?.status === 'ok' && UNITS.every((unit) => rack.isUp(unit)),
	)
})

afterAll(async () => {
	await rack.stop()
	await gateway.stop()
	await Promise.all(sims.map((sim) => sim.stop()))
})

describe('actions', () => {
	test("an action reaches the unit's traffic log, and only that unit's", async () => {
		const count = (sim: Sim, line: string) => sim.received().filter((text) => text === line).length
		const before = sims.map((sim) => count(sim, 'ROT3'))
		await host.runAction('press', { units: [UNITS[0]], button: 'mute' })
		expect(sims.map((sim) => count(sim, 'ROT3'))).toEqual([before[0] + 1, before[1], before[2]])

		await host.runAction('level_set', { units: [UNITS[0]], level: 'volume', value_volume: 12 })
		expect((await sims[0].state()).levels[0]).toBe(12)
		expect(host.logs.filter((entry) => entry.level === 'error')).toEqual([])
	})

	test('an action on all units reaches every unit', async () => {
		const balanced = rack.meta.inputs.find((input) => input.label === 'Balanced')!
		await host.runAction('input', { units: ['*'], input: balanced.value })
		for (const sim of sims) expect((await sim.state()).input).toBe(balanced.value)

		const dppm = rack.meta.meterModes.find((mode) => mode.label === 'DPPM')!
		await host.runAction('meter_mode', { units: UNITS.slice(1), mode: dppm.value })
		expect((await Promise.all(sims.map((sim) => sim.state()))).map((state) => state.meterMode)).toEqual([
			0,
			dppm.value,
			dppm.value,
		])
	})

	test("a failed action fails in Companion and is logged with the gateway's reason, naming the unit", async () => {
		const message = `${UNITS[1]}: Volume to 41 failed: volume takes a whole number from 0 to 40`
		await expect(host.runAction('level_set', { units: [UNITS[1]], level: 'volume', value_volume: 41 })).rejects.toThrow(
			message,
		)
		expect(host.logs.at(-1)).toEqual({ level: 'error', message })
		expect(host.values.last_outcome).toBe(message)
	})

	test("a level's value is offered in that level's own range", () => {
		const fields = host.actions.level_set!.options.filter((option) => option.type === 'number')
		const volume = fields.find((option) => option.id === 'value_volume')
		expect(volume).toMatchObject({ min: 0, max: 40, isVisibleExpression: "$(options:level) == 'volume'" })
		expect(fields.map((option) => [option.id, (option as { max: number }).max])).toEqual(
			rack.meta.levels.map((level) => [`value_${level.name.replace(/-/g, '_')}`, level.highest]),
		)
	})
})

describe('feedbacks and variables', () => {
	test('a change at the unit sets the feedbacks and the variables within the poll period plus 1 s', async () => {
		const unit = UNITS[1]
		const sdi = rack.meta.inputs.find((input) => input.label === 'SDI')!
		await sims[1].control('set input=1 volume=30 solo-left=1')
		const took = await waitFor(
			'the change shown',
			async () =>
				(await host.feedback('input', { unit, input: sdi.value })) === true &&
				(await host.feedback('lamp', { unit, lamp: 'soloLeft' })) === true &&
				host.values[variableId(unit, 'volume')] === 30 &&
				host.values[variableId(unit, 'input')] === 'SDI',
			POLL_MS + 1000,
		)
		expect(took).toBeLessThanOrEqual(POLL_MS + 1000)
		expect(await host.feedback('input', { unit, input: 0 })).toBe(false)
		expect(await host.feedback('lamp', { unit, lamp: 'soloRight' })).toBe(false)

		// 30 of 40: three quarters of the bar's 72 columns are filled.
		const bar = (await host.feedback('level_bar', { unit, level: 'volume' })) as {
			imageBuffer: string
			imageBufferPosition: { width: number; height: number; y: number }
		}
		const pixels = Buffer.from(bar.imageBuffer, 'base64')
		const row = [...Array(bar.imageBufferPosition.width).keys()].map((x) => pixels[x * 4 + 1])
		expect(row.filter((green) => green === row[0]).length).toBe(54)
		expect(bar.imageBufferPosition.y + bar.imageBufferPosition.height).toBe(72)
	})

	test('presets make a page per unit, its buttons lit by their feedbacks, and one for all units', () => {
		const presets = Object.values(host.presets).map((preset) => preset!)
		const categories = new Set(presets.map((preset) => preset.category))
		expect([...categories]).toEqual(['All units', ...UNITS.map((unit) => `Unit ${unit}`)])
		const soloLeft = presets.find((preset) => preset.name === `${UNITS[2]} Solo Left`)
		expect(soloLeft).toMatchObject({
			feedbacks: [{ feedbackId: 'lamp', options: { unit: UNITS[2], lamp: 'soloLeft' } }],
			steps: [{ down: [{ actionId: 'press', options: { units: [UNITS[2]], button: 'solo-left' } }] }],
		})
		expect(presets.find((preset) => preset.name === 'All units Mute')).toMatchObject({
			steps: [{ down: [{ actionId: 'press', options: { units: ['*'], button: 'mute' } }] }],
		})

		// Companion copies a preset's style to the button and each feedback's style as it is: an
		// on/off feedback lights the button only with a style that changes it.
		const onOff = presets.flatMap((preset) =>
			preset.type !== 'button'
				? []
				: preset.feedbacks
						.filter((feedback) => host.feedbacks[feedback.feedbackId]?.type === 'boolean')
						.map((feedback) => ({ button: { ...preset.style } as Record<string, unknown>, lit: feedback.style ?? {} })),
		)
		expect(onOff.length).toBe(
			UNITS.length * (1 + rack.meta.lamps.length + rack.meta.inputs.length + rack.meta.meterModes.length),
		)
		for (const { button, lit } of onOff) {
			expect(Object.keys(lit).length).toBeGreaterThan(0)
			expect(Object.entries(lit).some(([key, value]) => button[key] !== value)).toBe(true)
		}
	})

	test('a change sends Companion only the variables that changed', async () => {
		const unit = UNITS[0]
		const sent = host.sent.length
		await sims[0].control('set volume=17')
		await waitFor('the change sent', () => host.values[variableId(unit, 'volume')] === 17, POLL_MS + 1000)
		const sends = host.sent.slice(sent).filter((values) => variableId(unit, 'volume') in values)
		expect(sends.length).toBe(1)
		expect(Object.keys(sends[0]).sort()).toEqual([variableId(unit, 'read_time'), variableId(unit, 'volume')])
	})

	test('a stopped unit sets its up feedback to false, and its read time stops', async () => {
		const unit = UNITS[2]
		const readTime = () => String(host.values[variableId(unit, 'read_time')])
		expect(await host.feedback('unit_up', { unit })).toBe(true)
		const first = readTime()
		await waitFor('the read time moving on while the unit is up', () => readTime() > first, 2500)

		await sims[2].stop()
		await waitFor('the unit down', async () => (await host.feedback('unit_up', { unit })) === false)
		expect(host.values[variableId(unit, 'link')]).not.toBe('up')
		const last = readTime()
		expect(last).toBe(rack.unit(unit)?.statusTime) // the gateway's last read
		await new Promise((resolve) => setTimeout(resolve, 1500))
		expect(readTime()).toBe(last)
		expect(await host.feedback('input', { unit, input: 2 })).toBe(false)

		// A command to it is refused by the gateway, and the log says which unit and why.
		const refused = new RegExp(`^${unit}: Mute failed: the unit's link is down`)
		await expect(host.runAction('press', { units: [unit], button: 'mute' })).rejects.toThrow(refused)
		expect(host.logs.at(-1)?.message).toMatch(refused)
	})
})

describe('connection status', () => {
	test('settings that cannot be used give the bad-config status, and nothing is tried', async () => {
		const badHost = new FakeHost()
		const badRack = new Rack(badHost)
		await badRack.configure({ url: 'ftp://127.0.0.1:8090/' }, undefined)
		expect(badHost.statuses).toEqual([
			{ status: 'bad_config', message: 'the gateway URL must start with http:// or https:// (ftp: given)' },
		])
		await badRack.stop()
	})

	test("a wrong token gives the bad-config status; a viewer's is refused commands, an operator's not", async () => {
		const sim = new Sim(TOKEN_UNIT)
		const guarded = new GatewayProcess(
			8091,
			[TOKEN_UNIT],
			[`companion operator ${OPERATOR_TOKEN}`, `wall viewer ${VIEWER_TOKEN}`],
		)
		const tokenHost = new FakeHost()
		const tokenRack = new Rack(tokenHost)
		const mutes = () => sim.received().filter((text) => text === 'ROT3').length
		try {
			await sim.start()
			await guarded.start()
			await tokenRack.configure({ url: guarded.url }, { token: 'not-the-token' })
			await waitFor('bad config', () => tokenHost.status?.status === 'bad_config')
			expect(tokenHost.status?.message).toMatch(/HTTP 401/)

			await tokenRack.configure({ url: guarded.url, units: TOKEN_UNIT }, { token: VIEWER_TOKEN })
			await waitFor(
				'connected as a viewer',
				() => tokenHost.status?.status === 'unknown_warning' && tokenRack.isUp(TOKEN_UNIT),
			)
			expect(tokenHost.status?.message).toBe(
				"the token is a viewer's: controls are off, the buttons only show the units",
			)
			await expect(tokenHost.runAction('press', { units: ['*'], button: 'mute' })).rejects.toThrow(
				`${TOKEN_UNIT}: Mute failed: the token wall is a viewer's; this needs an operator's`,
			)
			expect(mutes()).toBe(0)

			await tokenRack.configure({ url: guarded.url, units: TOKEN_UNIT }, { token: OPERATOR_TOKEN })
			await waitFor('connected as an operator', () => tokenHost.status?.status === 'ok' && tokenRack.isUp(TOKEN_UNIT))
			await tokenHost.runAction('press', { units: ['*'], button: 'mute' })
			expect(mutes()).toBe(1)
		} finally {
			await tokenRack.stop()
			await guarded.stop()
			await sim.stop()
		}
	})

	test('a gateway that goes away gives the connection-failure status, and the module comes back', async () => {
		const before = host.statuses.length
		await gateway.stop()
		await waitFor('connection failure', () => host.status?.status === 'connection_failure')
		expect(host.status?.message).toBe('connection refused')
		expect(await host.feedback('unit_up', { unit: UNITS[0] })).toBe(false)
		// Tried again after a pause that grows, the status staying as it failed meanwhile.
		await waitFor('a longer pause', () => pauses.includes(2000), 4000)

		await gateway.start()
		await waitFor('connected again', () => host.status?.status === 'ok', 6000)
		expect(host.statuses.slice(before).map((entry) => entry.status)).toEqual([
			'disconnected',
			'connection_failure',
			'ok',
		])
		await waitFor('the unit up again', () => rack.isUp(UNITS[0]))
		await sims[0].control('set volume=9')
		await waitFor('a change after the return', () => host.values[variableId(UNITS[0], 'volume')] === 9, POLL_MS + 1000)
	})
})
