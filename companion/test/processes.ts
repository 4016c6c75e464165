// The real vantrel-gateway and simulated units, started from the native build, for the tests.
import { spawn, type ChildProcess } from 'node:child_process'
import { once } from 'node:events'
import { chmodSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs'
import { connect } from 'node:net'
import { connect as tlsConnect } from 'node:tls'
import path from 'node:path'

const ROOT = path.resolve(import.meta.dirname, '..', '..')
const BUILD = path.resolve(ROOT, process.env.VANTREL_COMPANION_BUILD ?? 'build/native')
const SIM = path.join(BUILD, 'sim', 'vantrel-sim')
const GATEWAY = path.join(BUILD, 'gateway', 'vantrel-gateway')
export const WORK = path.join(BUILD, 'companion-tests')

export function freshWorkFolder(): void {
	rmSync(WORK, { recursive: true, force: true })
	mkdirSync(WORK, { recursive: true })
}

async function stop(process: ChildProcess): Promise<void> {
	if (process.exitCode !== null || process.signalCode !== null) return
	const exited = once(process, 'exit')
	process.kill('SIGTERM')
	await exited
}

/** A simulated unit on its own loopback address, with its traffic log and control socket, and
 * the faults given (vantrel-sim's --fault values: 'delay=40'). */
export class Sim {
	readonly log: string
	readonly socket: string
	#process: ChildProcess | null = null

	constructor(
		readonly address: string,
		readonly faults: string[] = [],
	) {
		this.log = path.join(WORK, `traffic-${address}.log`)
		this.socket = path.join(WORK, `control-${address}.sock`)
	}

	async start(): Promise<void> {
		const args = ['--address', this.address, '--log', this.log, '--control', this.socket]
		const sim = spawn(SIM, [...args, ...this.faults.flatMap((fault) => ['--fault', fault])], {
			stdio: ['ignore', 'pipe', 'inherit'],
		})
		this.#process = sim
		// It prints its control line once everything listens.
		let printed = ''
		await new Promise<void>((resolve, reject) => {
			sim.stdout!.on('data', (chunk: Buffer) => {
				printed += chunk.toString()
				if (printed.includes('control on')) resolve()
			})
			sim.once('exit', (code) => reject(new Error(`vantrel-sim ${this.address} exited: ${code}`)))
		})
	}

	async stop(): Promise<void> {
		if (this.#process) await stop(this.#process)
	}

	/** A line to the control socket, as if at the unit's front panel; its reply. */
	control(command: string): Promise<string> {
		return new Promise((resolve, reject) => {
			const socket = connect(this.socket)
			let reply = ''
			socket.on('data', (chunk) => {
				reply += chunk.toString()
				if (reply.endsWith('\n')) {
					socket.end()
					if (reply.startsWith('error')) reject(new Error(`control ${command}: ${reply.trim()}`))
					else resolve(reply.trim())
				}
			})
			socket.on('error', reject)
			socket.write(command + '\n')
		})
	}

	async state(): Promise<{ input: number; meterMode: number; levels: number[]; [field: string]: unknown }> {
		return JSON.parse(await this.control('state'))
	}

	/** The console lines the unit received, in order. */
	received(): string[] {
		let text = ''
		try {
			text = readFileSync(this.log, 'utf8')
		} catch {
			return []
		}
		return text
			.split('\n')
			.filter((line) => line.trim())
			.map((line) => JSON.parse(line))
			.filter((item) => item.link === 'tcp')
			.map((item) => String(item.text).replace(/\r?\n$/, ''))
	}
}

/** vantrel-gateway on 127.0.0.1:port, polling every second; with named tokens when given
 * their lines (`NAME ROLE TOKEN`), over HTTPS when given a certificate and its key, and with
 * any other arguments given (`--units-file`). */
export class GatewayProcess {
	readonly url: string
	#process: ChildProcess | null = null

	constructor(
		readonly port: number,
		readonly units: string[],
		readonly tokens: string[] = [],
		readonly tls?: { cert: string; key: string },
		readonly more: string[] = [],
	) {
		this.url = `${tls ? 'https' : 'http'}://127.0.0.1:${port}/`
	}

	async start(): Promise<void> {
		const args = [
			'--poll',
			'1',
			'--listen',
			`127.0.0.1:${this.port}`,
			...this.units.flatMap((unit) => ['--unit', unit]),
		]
		if (this.tokens.length) {
			const file = path.join(WORK, `tokens-${this.port}`)
			writeFileSync(file, this.tokens.join('\n') + '\n')
			chmodSync(file, 0o600)
			args.push('--tokens-file', file)
		}
		if (this.tls) args.push('--tls-cert', this.tls.cert, '--tls-key', this.tls.key)
		args.push(...this.more)
		const gateway = spawn(GATEWAY, args, { stdio: ['ignore', 'ignore', 'inherit'] })
		this.#process = gateway
		const deadline = Date.now() + 10000
		for (;;) {
			if (await this.listening()) return
			if (Date.now() > deadline || gateway.exitCode !== null)
				throw new Error(`vantrel-gateway did not start on ${this.url}`)
			await new Promise((resolve) => setTimeout(resolve, 50))
		}
	}

	async stop(): Promise<void> {
		if (this.#process) await stop(this.#process)
	}

	// Whether it serves: a page over HTTP; a TLS handshake done, whatever its certificate.
	private async listening(): Promise<boolean> {
		if (!this.tls)
			return fetch(this.url + 'style.css').then(
				(reply) => reply.ok,
				() => false,
			)
		return new Promise((resolve) => {
			const socket = tlsConnect({ host: '127.0.0.1', port: this.port, rejectUnauthorized: false })
			socket.once('secureConnect', () => (socket.destroy(), resolve(true)))
			socket.once('error', () => resolve(false))
		})
	}
}
