import { fetch, type Dispatcher, type Response } from 'undici'
import type { Clock } from './host.js'

/** A command's end: done, or the reason the gateway (or the network) gave. */
export type CommandOutcome = { done: true } | { done: false; reason: string; running?: string }

/** Times a command refused for a full queue (503 with Retry-After) is sent again. */
const QUEUE_RETRIES = 2
const LONGEST_RETRY_MS = 5000

/**
 * Calls to vantrel-gateway. Node's fetch sends no Origin, so POSTs pass the gateway's Origin
 * rule; its Host is the URL's, which a gateway without a token accepts only as its loopback name.
 * `dispatcher` carries an https:// gateway's own trust (see tls.ts).
 */
export class Gateway {
	constructor(
		readonly base: URL,
		private readonly token: string,
		private readonly clock: Clock,
		private readonly dispatcher?: Dispatcher,
	) {}

	private headers(extra: Record<string, string> = {}): Record<string, string> {
		return this.token ? { ...extra, Authorization: `Bearer ${this.token}` } : extra
	}

	url(path: string): URL {
		return new URL(path, this.base)
	}

	get(path: string, signal?: AbortSignal): Promise<Response> {
		return fetch(this.url(path), {
			headers: this.headers({ Accept: 'application/json' }),
			signal,
			dispatcher: this.dispatcher,
		})
	}

	events(signal: AbortSignal): Promise<Response> {
		return fetch(this.url('api/events'), {
			headers: this.headers({ Accept: 'text/event-stream' }),
			signal,
			dispatcher: this.dispatcher,
		})
	}

	/** POSTs a command to one unit; a full queue is waited out as the gateway asks. */
	async command(unit: string, path: string, body: object, signal?: AbortSignal): Promise<CommandOutcome> {
		const answer = await this.post(`api/units/${encodeURIComponent(unit)}/${path}`, body, signal)
		if ('reason' in answer) return { done: false, reason: answer.reason }
		return commandEntry({ ...answer.reply, status: answer.status })
	}

	/**
	 * POSTs a command to the units a selector picks (a group route, or a snapshot's apply):
	 * each unit's outcome as `read` takes it from the unit's entry, or why the gateway refused
	 * the whole.
	 */
	async group(path: string, body: object, read: EntryReader, signal?: AbortSignal): Promise<GroupOutcome> {
		const answer = await this.post(path, body, signal)
		if ('reason' in answer) return { refused: answer.reason }
		const { status, reply } = answer
		if (status !== 200 || !Array.isArray(reply.units)) return { refused: reasonOf(status, reply) }
		const entries = reply.units as Record<string, unknown>[]
		return { units: entries.map((entry) => ({ unit: String(entry.unit), outcome: read(entry) })) }
	}

	/** The snapshots' names; none from a gateway that keeps none or will not list them. */
	async snapshots(signal?: AbortSignal): Promise<string[]> {
		const response = await this.get('api/snapshots', signal)
		const { snapshots } = await replyOf(response)
		if (!response.ok || !Array.isArray(snapshots)) return []
		return snapshots.map((snapshot) => String((snapshot as { name?: unknown })?.name ?? '')).filter(Boolean)
	}

	// A POST's status and reply; a full queue is waited out as the gateway asks.
	private async post(
		path: string,
		body: object,
		signal?: AbortSignal,
	): Promise<{ status: number; reply: Record<string, unknown> } | { reason: string }> {
		for (let attempt = 0; ; ++attempt) {
			let response: Response
			try {
				response = await fetch(this.url(path), {
					method: 'POST',
					headers: this.headers({ 'Content-Type': 'application/json' }),
					body: JSON.stringify(body),
					signal,
					dispatcher: this.dispatcher,
				})
			} catch (error) {
				return { reason: `the gateway did not answer (${failureReason(error)})` }
			}
			const reply = await replyOf(response)
			const retryAfter = Number(response.headers.get('Retry-After'))
			if (response.status === 503 && retryAfter > 0 && attempt < QUEUE_RETRIES) {
				await this.clock.sleep(Math.min(retryAfter * 1000, LONGEST_RETRY_MS), signal)
				continue
			}
			return { status: response.status, reply }
		}
	}
}

/** A group's end: each unit's outcome, or why the gateway refused the whole (a selector that
 * matches no unit, or too many unconfirmed). */
export type GroupOutcome = { units: { unit: string; outcome: CommandOutcome }[] } | { refused: string }

/** A unit's outcome from its entry in a group's answer. */
export type EntryReader = (entry: Record<string, unknown>) => CommandOutcome

function reasonOf(status: number, reply: Record<string, unknown>): string {
	return typeof reply.error === 'string' && reply.error ? reply.error : `HTTP ${status}`
}

/** A one-unit command's answer with its status, as a group's answer gives it for each unit. */
export const commandEntry: EntryReader = (entry) => {
	const status = Number(entry.status)
	if (entry.done === true && status >= 200 && status < 300) return { done: true }
	const reason = reasonOf(status, entry)
	// Still running on the unit: its outcome follows on the event stream under this id.
	if (status === 504 && typeof entry.command === 'string') return { done: false, reason, running: entry.command }
	return { done: false, reason }
}

/** A unit's entry in a snapshot's apply: done when nothing refused it and every step is done. */
export const applyEntry: EntryReader = (entry) => {
	const refusal = entry.refusal as { reason?: string; setting?: string; why?: string } | null | undefined
	if (refusal) {
		const what = [refusal.reason ?? 'refused', refusal.setting, refusal.why].filter(Boolean)
		return { done: false, reason: what.join(': ') }
	}
	const steps = Array.isArray(entry.steps) ? (entry.steps as { setting?: string; state?: string; why?: string }[]) : []
	const undone = steps
		.filter((step) => step.state !== 'done')
		.map((step) => `${step.setting} ${step.state}${step.why ? `: ${step.why}` : ''}`)
	return undone.length ? { done: false, reason: undone.join('; ') } : { done: true }
}

/** A reply's JSON object; {} for a body that is not one. */
export async function replyOf(response: Response): Promise<Record<string, unknown>> {
	try {
		const value: unknown = await response.json()
		return typeof value === 'object' && value !== null ? (value as Record<string, unknown>) : {}
	} catch {
		return {}
	}
}

/** Why a fetch failed, in a few words: the system's code where it gives one. */
export function failureReason(error: unknown): string {
	const cause = (error as { cause?: { code?: string; message?: string } })?.cause
	const words: Record<string, string> = {
		ECONNREFUSED: 'connection refused',
		ECONNRESET: 'connection reset',
		EHOSTUNREACH: 'host unreachable',
		ENETUNREACH: 'network unreachable',
		ETIMEDOUT: 'timed out',
		ENOTFOUND: 'host name not found',
		DEPTH_ZERO_SELF_SIGNED_CERT: "the gateway's certificate is self-signed: give its CA file or fingerprint",
		SELF_SIGNED_CERT_IN_CHAIN: "the gateway's certificate is not signed by a CA trusted here",
		UNABLE_TO_VERIFY_LEAF_SIGNATURE: "the gateway's certificate is not signed by a CA trusted here",
		ERR_TLS_CERT_ALTNAME_INVALID: "the gateway's certificate is not for this host name or address",
		CERT_HAS_EXPIRED: "the gateway's certificate has expired",
	}
	if (cause?.code) return words[cause.code] ?? cause.code
	if (cause?.message) return cause.message
	return error instanceof Error ? error.message : String(error)
}
