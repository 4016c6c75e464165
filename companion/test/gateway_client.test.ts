// The gateway client's handling of a full queue and of a command still running, against a
// small loopback server that answers as the gateway does in those cases.
import { createServer, type Server } from 'node:http'
import type { AddressInfo } from 'node:net'
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Gateway } from '../src/gateway.js'
import type { Clock } from '../src/host.js'

let server: Server
let base: URL
const answers: { status: number; body: object; headers?: Record<string, string> }[] = []
let requests = 0

beforeAll(async () => {
	server = createServer((request, response) => {
		requests++
		request.resume()
		const answer = answers.shift() ?? { status: 500, body: {} }
		response.writeHead(answer.status, { 'Content-Type': 'application/json', ...answer.headers })
		response.end(JSON.stringify(answer.body))
	})
	await new Promise<void>((resolve) => server.listen(0, '127.0.0.1', resolve))
	base = new URL(`http://127.0.0.1:${(server.address() as AddressInfo).port}/`)
})

afterAll(() => new Promise((resolve) => server.close(resolve)))

const pauses: number[] = []
const clock: Clock = { now: () => new Date(), sleep: async (ms) => void pauses.push(ms) }

test('a full queue is waited out as Retry-After says, a few times at most', async () => {
	const full = { status: 503, body: { done: false, error: 'the unit already has 16 commands waiting' }, headers: { 'Retry-After': '2' } }
	answers.push(full, { status: 200, body: { done: true } })
	const gateway = new Gateway(base, '', clock)
	expect(await gateway.command('127.0.0.2', 'press/mute', {})).toEqual({ done: true })
	expect([pauses, requests]).toEqual([[2000], 2])

	answers.push(full, full, full)
	expect(await gateway.command('127.0.0.2', 'press/mute', {})).toEqual({
		done: false,
		reason: 'the unit already has 16 commands waiting',
	})
	expect([pauses, requests]).toEqual([[2000, 2000, 2000], 5])
})

test('a command still running is named so that its outcome can follow', async () => {
	answers.push({ status: 504, body: { done: false, command: '17', error: 'still running after 15 s' } })
	expect(await new Gateway(base, '', clock).command('127.0.0.2', 'level/volume', { value: 3 })).toEqual({
		done: false,
		reason: 'still running after 15 s',
		running: '17',
	})
})
