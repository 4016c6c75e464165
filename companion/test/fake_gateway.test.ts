// The module against a small loopback server that answers as the gateway does in cases the
// real one comes to only rarely: a full queue, a command still running, a stream gone silent.
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Gateway } from '../src/gateway.js'
import { realClock, type Clock } from '../src/host.js'
import { Rack } from '../src/rack.js'
import { FakeGateway } from './fake_gateway.js'
import { FakeHost } from './fake_host.js'
import { waitFor } from './wait.js'

const fake = new FakeGateway()
const { answers } = fake
let base: URL

beforeAll(async () => {
	await fake.start()
	base = fake.base
})

afterAll(() => fake.stop())

const pauses: number[] = []
const clock: Clock = { now: () => new Date(), sleep: async (ms) => void pauses.push(ms) }

test('a full queue is waited out as Retry-After says, a few times at most', async () => {
	const full = {
		status: 503,
		body: { done: false, error: 'the unit already has 16 commands waiting' },
		headers: { 'Retry-After': '2' },
	}
	answers.push(full, { status: 200, body: { done: true } })
	const gateway = new Gateway(base, '', clock)
	expect(await gateway.command('127.0.0.2', 'press/mute', {})).toEqual({ done: true })
	expect([pauses, fake.commands.length]).toEqual([[2000], 2])

	answers.push(full, full, full)
	expect(await gateway.command('127.0.0.2', 'press/mute', {})).toEqual({
		done: false,
		reason: 'the unit already has 16 commands waiting',
	})
	expect([pauses, fake.commands.length]).toEqual([[2000, 2000, 2000], 5])
})

test('a command still running is named so that its outcome can follow', async () => {
	answers.push({ status: 504, body: { done: false, command: '17', error: 'still running after 15 s' } })
	expect(await new Gateway(base, '', clock).command('127.0.0.2', 'level/volume', { value: 3 })).toEqual({
		done: false,
		reason: 'still running after 15 s',
		running: '17',
	})
})

test('a stream that says nothing for too long is taken as lost, and tried again', async () => {
	const host = new FakeHost()
	const rack = new Rack(host, realClock, { streamSilenceMs: 300 })
	try {
		await rack.configure({ url: base.href }, undefined)
		await waitFor('a failure', () => host.statuses.some((entry) => entry.status === 'connection_failure'))
		expect(host.statuses.slice(0, 3)).toEqual([
			{ status: 'connecting', message: '' },
			{ status: 'ok', message: '' },
			{ status: 'connection_failure', message: 'the event stream said nothing for 0.3 s' },
		])
		await waitFor('a second connection', () => host.statuses.filter((entry) => entry.status === 'ok').length === 2)
	} finally {
		await rack.stop()
	}
})

test("a command's outcome that follows on the stream is logged once, naming the unit", async () => {
	const host = new FakeHost()
	const rack = new Rack(host)
	try {
		await rack.configure({ url: base.href }, undefined)
		await waitFor('connected', () => host.status?.status === 'ok')
		const running = (command: string) => ({ status: 504, body: { done: false, command, error: 'still running' } })
		answers.push(running('21'), running('22'))
		await host.runAction('press', { units: ['u1'], button: 'mute' })
		await host.runAction('level_step', { units: ['u2'], level: 'volume', step: 'up' })
		const outcome = (command: string, status: number, reply: object) => fake.send('outcome', { command, status, reply })
		outcome('99', 200, { done: true }) // another client's command
		outcome('21', 502, { done: false, error: 'no reply from the unit' })
		outcome('21', 200, { done: true })
		outcome('22', 200, { done: true })
		await waitFor('the last outcome', () => host.logs.length === 4)
		expect(host.logs).toEqual([
			{ level: 'warn', message: 'u1: mute is still running on the unit; its outcome follows' },
			{ level: 'warn', message: 'u2: volume up is still running on the unit; its outcome follows' },
			{ level: 'error', message: 'u1: mute failed: no reply from the unit' },
			{ level: 'info', message: 'u2: volume up done' },
		])
	} finally {
		await rack.stop()
	}
})

test('a refused action fails in Companion; a long one is answered in time and its outcome told later', async () => {
	const host = new FakeHost()
	const rack = new Rack(host, realClock, { answerWithinMs: 200 })
	try {
		await rack.configure({ url: base.href }, undefined)
		await waitFor('connected', () => host.status?.status === 'ok')
		answers.push({ status: 403, body: { done: false, error: "the token wall is a viewer's" } })
		await expect(host.runAction('press', { units: ['u1'], button: 'mute' })).rejects.toThrow(
			"u1: mute failed: the token wall is a viewer's",
		)

		let release = () => {}
		const held = new Promise<void>((resolve) => (release = resolve))
		answers.push({ status: 502, body: { done: false, error: 'no reply from the unit' }, held })
		const started = Date.now()
		await host.runAction('level_step', { units: ['u2'], level: 'volume', step: 'up' })
		expect(Date.now() - started).toBeLessThan(1000)
		expect(host.logs.at(-1)).toEqual({ level: 'warn', message: 'volume up is taking long; its outcome follows' })
		release()
		const failed = 'u2: volume up failed: no reply from the unit'
		await waitFor('the outcome told', () => host.values.last_outcome === failed)
		expect(host.logs.at(-1)).toEqual({ level: 'error', message: failed })
	} finally {
		await rack.stop()
	}
})
