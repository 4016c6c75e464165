// The module against the real vantrel-gateway serving HTTPS with a certificate signed by a CA
// of the test's own: trusted through the CA file or the certificate's fingerprint, and refused
// without either. Run inside a network namespace that has only lo (see ./test-in-namespace).
import { execFileSync } from 'node:child_process'
import { X509Certificate } from 'node:crypto'
import { chmodSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs'
import path from 'node:path'
import { afterAll, beforeAll, expect, test } from 'vitest'
import { Rack } from '../src/rack.js'
import { FakeHost } from './fake_host.js'
import { GatewayProcess, Sim, WORK } from './processes.js'
import { waitFor } from './wait.js'

const UNIT = '127.0.80.6'
const FOLDER = path.join(WORK, 'https')
const file = (name: string) => path.join(FOLDER, name)
const sim = new Sim(UNIT)
const gateway = new GatewayProcess(8093, [UNIT], [], { cert: file('cert.pem'), key: file('key.pem') })

// A CA, and a certificate for 127.0.0.1 that it signs.
function makeCertificates(): void {
	mkdirSync(FOLDER, { recursive: true })
	const openssl = (...args: string[]) => execFileSync('openssl', args, { cwd: FOLDER, stdio: 'ignore' })
	const newKey = ['-newkey', 'rsa:2048', '-nodes']
	openssl('req', '-x509', ...newKey, '-keyout', 'ca-key.pem', '-out', 'ca.pem', '-days', '2', '-subj', '/CN=Rack CA')
	openssl('req', ...newKey, '-keyout', 'key.pem', '-out', 'cert.csr', '-subj', '/CN=127.0.0.1')
	writeFileSync(file('san.ext'), 'subjectAltName=IP:127.0.0.1\n')
	openssl(
		...['x509', '-req', '-in', 'cert.csr', '-CA', 'ca.pem', '-CAkey', 'ca-key.pem', '-days', '2'],
		...['-CAcreateserial', '-extfile', 'san.ext', '-out', 'cert.pem'],
	)
	chmodSync(file('key.pem'), 0o600)
}

beforeAll(async () => {
	makeCertificates()
	await sim.start()
	await gateway.start()
})

afterAll(async () => {
	await gateway.stop()
	await sim.stop()
})

// The statuses a rack with these settings gives once it has settled: ok with the unit up, or
// what else.
async function settled(settings: { ca?: string; fingerprint?: string }) {
	const host = new FakeHost()
	const rack = new Rack(host)
	await rack.configure({ url: gateway.url, ...settings }, undefined)
	await waitFor('settled', () =>
		host.status?.status === 'ok' ? rack.isUp(UNIT) : host.status?.status !== 'connecting',
	)
	return { host, rack }
}

test("an https:// gateway is followed and commanded with the CA file, or with its certificate's fingerprint", async () => {
	const mutes = () => sim.received().filter((text) => text === 'ROT3').length
	const fingerprint = new X509Certificate(readFileSync(file('cert.pem'))).fingerprint256
	for (const trust of [{ ca: file('ca.pem') }, { fingerprint: fingerprint.replace(/:/g, '').toLowerCase() }]) {
		const { host, rack } = await settled(trust)
		try {
			expect(host.status).toEqual({ status: 'ok', message: '' })
			const before = mutes()
			await host.runAction('press', { units: [UNIT], button: 'mute' })
			expect(mutes()).toBe(before + 1)
		} finally {
			await rack.stop()
		}
	}
})

test('an https:// gateway whose certificate is not trusted is not followed, saying why', async () => {
	const cases: [{ ca?: string; fingerprint?: string }, string, string][] = [
		[{}, 'connection_failure', "the gateway's certificate is not signed by a CA trusted here"],
		[{ ca: file('cert.csr') }, 'connection_failure', "the gateway's certificate is not signed by a CA trusted here"],
		[
			{ fingerprint: 'AB'.repeat(32) },
			'connection_failure',
			"the gateway's certificate is not the one of the fingerprint given",
		],
		[{ ca: file('missing.pem') }, 'bad_config', 'the CA file cannot be read: ENOENT'],
	]
	for (const [trust, status, message] of cases) {
		const { host, rack } = await settled(trust)
		await rack.stop()
		expect(host.status).toEqual({ status, message })
	}
})
