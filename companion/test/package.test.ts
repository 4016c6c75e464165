// The archive Companion imports: unpacked, its module starts as Companion's host starts it (a
// child process with an IPC channel), registers with the manifest's API version, and once
// given its settings reports its status: here a gateway that is not there.
import { execFileSync, fork } from 'node:child_process'
import { mkdtempSync, readFileSync, rmSync } from 'node:fs'
import { tmpdir } from 'node:os'
import path from 'node:path'
import { expect, test } from 'vitest'

const ROOT = path.resolve(import.meta.dirname, '..')

interface Message {
	name: string
	payload: string
	callbackId?: number
}

test('the built package starts, registers with its host and reports its status', async () => {
	const { version } = JSON.parse(readFileSync(path.join(ROOT, 'package.json'), 'utf8'))
	const unpacked = mkdtempSync(path.join(tmpdir(), 'vantrel-companion-'))
	execFileSync('tar', ['xzf', path.join(ROOT, `vantrel-gateway-${version}.tgz`), '-C', unpacked])
	const manifest = JSON.parse(readFileSync(path.join(unpacked, 'pkg/companion/manifest.json'), 'utf8'))
	expect(manifest).toMatchObject({ id: 'vantrel-gateway', version, license: 'MIT', runtime: { api: 'nodejs-ipc' } })

	const module = fork(path.join(unpacked, 'pkg/main.js'), [], {
		env: {
			...process.env,
			MODULE_MANIFEST: path.join(unpacked, 'pkg/companion/manifest.json'),
			CONNECTION_ID: 'c1',
			VERIFICATION_TOKEN: 'v1',
		},
		stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
	})
	try {
		// Its console goes to the host as log messages, among the rest.
		const sent = (name: string, test: (payload: any) => boolean = () => true) =>
			new Promise<Message>((resolve, reject) => {
				const look = (message: Message) => {
					if (message.name !== name || !test(JSON.parse(message.payload))) return
					module.off('message', look)
					resolve(message)
				}
				module.on('message', look)
				module.once('exit', (code) => reject(new Error(`the module exited: ${code}`)))
			})
		const message = await sent('register')
		expect(JSON.parse(message.payload)).toEqual({
			apiVersion: manifest.runtime.apiVersion,
			connectionId: 'c1',
			verificationToken: 'v1',
		})
		module.send({ direction: 'response', callbackId: message.callbackId, success: true, payload: '{}' })
		const status = sent('set-status', (payload) => payload.status !== 'connecting')
		const init = {
			label: 'vantrel',
			isFirstInit: true,
			config: { url: 'http://127.0.0.1:8097/', units: '' },
			secrets: { token: '' },
			lastUpgradeIndex: -1,
			feedbacks: {},
			actions: {},
		}
		module.send({ direction: 'call', name: 'init', payload: JSON.stringify(init), callbackId: 1 })
		expect(JSON.parse((await status).payload)).toEqual({ status: 'connection_failure', message: 'connection refused' })
	} finally {
		module.kill()
		rmSync(unpacked, { recursive: true, force: true })
	}
})
