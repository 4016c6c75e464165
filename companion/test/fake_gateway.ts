// A small loopback server that answers as the gateway does: its tables, its units and
// snapshots as the test sets them, an event stream the test writes to, and every other request
// (a command) recorded and answered from a queue the test fills.
import { createServer, type IncomingMessage, type Server, type ServerResponse } from 'node:http'
import type { AddressInfo } from 'node:net'

export interface Answer {
	status: number
	body: object
	headers?: Record<string, string>
	/** The answer is sent once this resolves. */
	held?: Promise<void>
}

export class FakeGateway {
	base = new URL('http://127.0.0.1/')
	meta: object = { buttons: [], levels: [], inputs: [], meterModes: [], lamps: [] }
	units: object[] = []
	snapshots: string[] = []
	readonly answers: Answer[] = []
	/** The commands asked, in order, each with its body as JSON. */
	readonly commands: { path: string; body: any }[] = []
	/** The last event stream opened; it says nothing until the test writes to it. */
	stream: ServerResponse | null = null
	readonly #server: Server = createServer((request, response) => void this.serve(request, response))

	async start(): Promise<void> {
		await new Promise<void>((resolve) => this.#server.listen(0, '127.0.0.1', resolve))
		this.base = new URL(`http://127.0.0.1:${(this.#server.address() as AddressInfo).port}/`)
	}

	stop(): Promise<void> {
		this.#server.closeAllConnections()
		return new Promise((resolve) => this.#server.close(() => resolve()))
	}

	/** An event on the last stream opened. */
	send(name: string, data: object): void {
		this.stream?.write(`event: ${name}\ndata: ${JSON.stringify(data)}\n\n`)
	}

	private async serve(request: IncomingMessage, response: ServerResponse): Promise<void> {
		let text = ''
		for await (const chunk of request) text += chunk
		const listed: Record<string, object> = {
			'/api/meta': this.meta,
			'/api/units': { units: this.units },
			'/api/snapshots': { snapshots: this.snapshots.map((name) => ({ name, units: 1 })) },
		}
		if (request.url! in listed) return respond(response, { status: 200, body: listed[request.url!] })
		if (request.url === '/api/events') {
			this.stream = response.writeHead(200, { 'Content-Type': 'text/event-stream' })
			return this.stream.flushHeaders()
		}
		if (request.method !== 'POST') return respond(response, { status: 404, body: { error: 'no such route' } })
		this.commands.push({ path: request.url!, body: text ? JSON.parse(text) : null })
		const answer = this.answers.shift() ?? { status: 500, body: {} }
		await answer.held
		respond(response, answer)
	}
}

function respond(response: ServerResponse, answer: Answer): void {
	response.writeHead(answer.status, { 'Content-Type': 'application/json', ...answer.headers })
	response.end(JSON.stringify(answer.body))
}
