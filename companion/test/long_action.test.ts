// A volume ramp on a unit slow to answer, through the real vantrel-gateway: the action is
// answered before Companion would call it timed out, the unit stays up while it answers every
// step, and the outcome follows. Run inside a network namespace that has only lo.
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Rack } from '../src/rack.js'
import { realClock } from '../src/host.js'
import { FakeHost } from './fake_host.js'
import { GatewayProcess, Sim } from './processes.js'
import { waitFor } from './wait.js'

const UNIT = '127.0.80.7'
const ANSWER_WITHIN_MS = 500
const sim = new Sim(UNIT, ['delay=40'])
const gateway = new GatewayProcess(8094, [UNIT])
const host = new FakeHost()
const rack = new Rack(host, realClock, { answerWithinMs: ANSWER_WITHIN_MS })

beforeAll(async () => {
	await sim.start()
	await gateway.start()
	await rack.configure({ url: gateway.url }, undefined)
	await waitFor('the unit up', () => host.status?.status === 'ok' && rack.isUp(UNIT))
	await host.runAction('level_set', { units: [UNIT], level: 'volume', value_volume: 0 })
})

afterAll(async () => {
	await rack.stop()
	await gateway.stop()
	await sim.stop()
})

test('a long ramp is answered in time, keeps its unit up, and its outcome follows', async () => {
	const started = Date.now()
	await host.runAction('level_set', { units: [UNIT], level: 'volume', value_volume: 40 })
	expect(Date.now() - started).toBeLessThan(ANSWER_WITHIN_MS + 500)
	expect(host.logs.at(-1)).toEqual({ level: 'warn', message: 'Volume to 40 is taking long; its outcome follows' })

	let wasDown = false
	await waitFor(
		'the outcome',
		async () => {
			wasDown ||= (await host.feedback('unit_up', { unit: UNIT })) === false
			return host.values.last_outcome === `${UNIT}: Volume to 40 done`
		},
		20000,
	)
	// At one poll a second, the ramp outlasts the two periods after which a silent unit is down.
	expect(Date.now() - started).toBeGreaterThan(2000)
	expect(wasDown).toBe(false)
	expect(host.logs.at(-1)).toEqual({ level: 'info', message: `${UNIT}: Volume to 40 done` })
	expect((await sim.state()).levels[0]).toBe(40)
})
