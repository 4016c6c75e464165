import { InstanceStatus, type CompanionVariableValue, type CompanionVariableValues } from '@companion-module/base'
import type { Agent } from 'undici'
import { actionDefinitions } from './actions.js'
import { parseConfig, type Config, type Secrets } from './config.js'
import { feedbackDefinitions } from './feedbacks.js'
import { commandEntry, failureReason, Gateway, replyOf, type CommandOutcome, type EntryReader } from './gateway.js'
import { realClock, type Clock, type Host } from './host.js'
import { isMeta, type Meta, type Unit } from './meta.js'
import { labelValues, presetDefinitions } from './presets.js'
import { pick } from './selector.js'
import { readEvents } from './sse.js'
import { agentFor } from './tls.js'
import { LAST_OUTCOME, variableDefinitions, variableId, variableValues } from './variables.js'
import type { Group, RackView } from './view.js'

const FIRST_PAUSE_MS = 1000
const LONGEST_PAUSE_MS = 30000
const TICK_MS = 1000
// The gateway sends a comment after 15 s without an event; a stream silent for longer than
// this is taken as lost, as a connection that died without a word would otherwise never end.
const STREAM_SILENCE_MS = 40000
// Companion gives an action 5 s before it calls it timed out; a longer one is answered before
// then, and its outcome told later.
const ANSWER_WITHIN_MS = 4000
// The gateway tells no change of its snapshots, so their names are asked for this often.
const SNAPSHOTS_EVERY_MS = 10000

/** The waits a test may shorten. */
export interface RackTimes {
	streamSilenceMs: number
	answerWithinMs: number
	snapshotsEveryMs: number
}

const NO_META: Meta = { buttons: [], levels: [], inputs: [], meterModes: [], lamps: [] }

/** How a try at the gateway ended: the status to show, and whether the stream had been live. */
interface Ending {
	status: InstanceStatus
	message: string
	wasLive: boolean
}

/**
 * The module: follows the gateway's event stream, keeps each unit's state, and gives Companion
 * the definitions, variables and feedbacks that follow from them.
 */
export class Rack implements RackView {
	meta: Meta = NO_META
	// The gateway, and the backup tried when it does not answer; commands go to the one followed.
	#gateways: Gateway[] = []
	#at = 0
	#confirmUpTo = 0
	#wanted: 'all' | string[] = 'all'
	#followed = new Set<string>()
	// Every unit of the gateway as last heard, in its order: groups pick from all of them.
	#units = new Map<string, Unit>()
	// The units each selector shown picks; a feedback is checked at every change of any unit,
	// but what it picks changes only with the units' names and labels.
	#picks = new Map<string, string[]>()
	#snapshots: string[] = []
	#live = false
	#defined = ''
	#variablesDefined = ''
	#stop: AbortController | null = null
	#running: Promise<unknown> | null = null
	#pending = new Map<string, { unit: string; label: string }>()
	#agent: Agent | undefined
	#status = ''
	#sent = new Map<string, CompanionVariableValue | undefined>()
	private readonly times: RackTimes

	constructor(
		private readonly host: Host,
		private readonly clock: Clock = realClock,
		times: Partial<RackTimes> = {},
	) {
		this.times = {
			streamSilenceMs: STREAM_SILENCE_MS,
			answerWithinMs: ANSWER_WITHIN_MS,
			snapshotsEveryMs: SNAPSHOTS_EVERY_MS,
			...times,
		}
	}

	/** Takes new settings: stops following the gateway, then starts again with them. */
	async configure(config: Partial<Config>, secrets: Partial<Secrets> | undefined): Promise<void> {
		await this.stop()
		const settings = parseConfig(config, secrets)
		if (typeof settings === 'string') return this.setStatus(InstanceStatus.BadConfig, settings)
		const agent = agentFor(settings)
		if (typeof agent === 'string') return this.setStatus(InstanceStatus.BadConfig, agent)
		this.#agent = agent
		this.#gateways = [settings.base, settings.backup]
			.filter((base) => base !== null)
			.map((base) => new Gateway(base, settings.token, this.clock, agent))
		this.#at = 0
		this.#confirmUpTo = settings.confirmUpTo
		this.#wanted = settings.units
		this.setStatus(InstanceStatus.Connecting)
		const stop = new AbortController()
		this.#stop = stop
		this.#running = Promise.all([this.follow(stop.signal), this.tick(stop.signal)])
	}

	async stop(): Promise<void> {
		this.#stop?.abort()
		await this.#running
		this.#stop = null
		this.#running = null
		this.#gateways = []
		// Commands still running in the background end with it.
		await this.#agent?.destroy()
		this.#agent = undefined
		this.setLive(false)
	}

	units(): string[] {
		return [...this.#followed]
	}

	unit(id: string): Unit | undefined {
		return this.#followed.has(id) ? this.#units.get(id) : undefined
	}

	members(select: string): (Unit | undefined)[] {
		let picked = this.#picks.get(select)
		if (!picked) {
			picked = pick(select, [...this.#units.values()]).map((unit) => unit.unit)
			this.#picks.set(select, picked)
		}
		return picked.map((id) => {
			const unit = this.#units.get(id)
			return this.#live && unit?.link === 'up' ? unit : undefined
		})
	}

	snapshots(): string[] {
		return this.#snapshots
	}

	isUp(id: string): boolean {
		return this.#live && this.unit(id)?.link === 'up'
	}

	/**
	 * Throws the failures, so that Companion shows them; one that takes longer than Companion
	 * waits is answered in time, and its outcome logged and set as the last outcome when known.
	 */
	async command(units: string[], label: string, path: string, body: object): Promise<void> {
		const gateway = this.followed()
		if (!gateway) throw new Error('the module has no usable gateway settings')
		const call = { late: false }
		const all = Promise.all(
			units.map(async (unit) =>
				this.settle(unit, label, await gateway.command(unit, path, body, this.#stop?.signal), call),
			),
		)
		return this.answer(label, all, call)
	}

	/**
	 * As command(), in one request for the group; its count is confirmed for the person when
	 * the settings allow a group that large, else the gateway's refusal is the failure shown.
	 */
	async groupCommand(
		group: Group,
		label: string,
		path: string,
		body: object,
		read: EntryReader = commandEntry,
	): Promise<void> {
		const gateway = this.followed()
		if (!gateway) throw new Error('the module has no usable gateway settings')
		const count = pick(group.select, [...this.#units.values()]).length
		const confirm = count > 0 && count <= this.#confirmUpTo ? { confirm: count } : {}
		const request = { ...body, select: group.select, stopOnFailure: group.stopOnFailure, ...confirm }
		const call = { late: false }
		const all = gateway
			.group(path, request, read, this.#stop?.signal)
			.then((outcome) =>
				'refused' in outcome
					? [this.settle(`group ${group.select}`, label, { done: false, reason: outcome.refused }, call)]
					: outcome.units.map((entry) => this.settle(entry.unit, label, entry.outcome, call)),
			)
		return this.answer(label, all, call)
	}

	// Waits for the outcomes up to answerWithinMs, and throws the failures among them; after
	// that, answers and leaves them to settle() to log.
	private async answer(label: string, all: Promise<(string | undefined)[]>, call: { late: boolean }): Promise<void> {
		const answered = new AbortController()
		const inTime = await Promise.race([
			all.then(() => true),
			this.clock.sleep(this.times.answerWithinMs, answered.signal).then(() => false),
		])
		answered.abort()
		if (!inTime) {
			call.late = true
			this.host.log('warn', `${label} is taking long; its outcome follows`)
			return
		}
		const failures = (await all).filter((failure) => failure !== undefined)
		if (failures.length) throw new Error(failures.join('; '))
	}

	// Logs and shows a command's outcome on one unit; the failure's text, if it failed.
	private settle(unit: string, label: string, outcome: CommandOutcome, call: { late: boolean }): string | undefined {
		if (outcome.done) {
			if (call.late) this.host.log('info', `${unit}: ${label} done`)
			this.setVariables({ [LAST_OUTCOME]: `${unit}: ${label} done` })
			return undefined
		}
		if (outcome.running) {
			this.#pending.set(outcome.running, { unit, label })
			this.host.log('warn', `${unit}: ${label} is still running on the unit; its outcome follows`)
			return undefined
		}
		const failure = `${unit}: ${label} failed: ${outcome.reason}`
		this.host.log('error', failure)
		this.setVariables({ [LAST_OUTCOME]: failure })
		return failure
	}

	private followed(): Gateway | null {
		return this.#gateways[this.#at] ?? null
	}

	// Tries the gateway again and again, with a pause that grows while it keeps failing; with a
	// backup, the other one at once when one fails, and the pause after both have.
	private async follow(signal: AbortSignal): Promise<void> {
		let pause = FIRST_PAUSE_MS
		let failed = 0
		while (!signal.aborted) {
			const ending = await this.session(signal)
			this.setLive(false)
			if (signal.aborted) return
			const count = this.#gateways.length
			const where = count > 1 ? `${this.followed()!.base.href}: ` : ''
			this.setStatus(ending.status, where + ending.message)
			if (ending.wasLive) {
				pause = FIRST_PAUSE_MS
				failed = 0
			}
			this.#at = (this.#at + 1) % count
			if (++failed % count !== 0) continue
			await this.clock.sleep(pause, signal)
			pause = Math.min(pause * 2, LONGEST_PAUSE_MS)
		}
	}

	private async session(signal: AbortSignal): Promise<Ending> {
		const wanted = this.#wanted
		const gateway = this.followed() as Gateway
		const silent = new AbortController()
		try {
			const metaReply = await gateway.get('api/meta', signal)
			if (!metaReply.ok) return await refusal(metaReply, '/api/meta')
			const meta: unknown = await metaReply.json()
			if (!isMeta(meta)) return failure(`${gateway.url('api/meta')} is not a vantrel-gateway's tables`)
			const unitsReply = await gateway.get('api/units', signal)
			if (!unitsReply.ok) return await refusal(unitsReply, '/api/units')
			const listed = (await unitsReply.json()) as { units?: Unit[] }
			const all = (listed.units ?? []).map((unit) => unit.unit)
			const missing = wanted === 'all' ? [] : wanted.filter((id) => !all.includes(id))
			const whoami = await gateway.get('api/whoami', signal)
			const viewer = whoami.ok && (await replyOf(whoami)).role === 'viewer'
			this.#snapshots = await gateway.snapshots(signal)
			this.meta = meta
			this.#units = new Map((listed.units ?? []).map((unit) => [unit.unit, unit]))
			this.#picks.clear()
			this.#followed = new Set(all.filter((id) => this.follows(id)))
			this.define()

			const stream = await gateway.events(AbortSignal.any([signal, silent.signal]))
			if (!stream.ok || !stream.body) return await refusal(stream, 'the event stream')
			this.#pending.clear()
			this.setLive(true)
			if (this.#gateways.length > 1) this.host.log('info', `following the gateway at ${gateway.base.href}`)
			const warnings = []
			if (viewer) warnings.push("the token is a viewer's: controls are off, the buttons only show the units")
			if (missing.length) warnings.push(`the gateway has no unit ${missing.join(', ')}`)
			this.setStatus(warnings.length ? InstanceStatus.UnknownWarning : InstanceStatus.Ok, warnings.join('; '))
			await this.readStream(stream.body, silent, signal)
			return { status: InstanceStatus.Disconnected, message: 'the gateway ended the event stream', wasLive: true }
		} catch (error) {
			const reason = silent.signal.aborted
				? `the event stream said nothing for ${this.times.streamSilenceMs / 1000} s`
				: failureReason(error)
			return { ...failure(reason), wasLive: this.#live }
		}
	}

	// Reads the stream until it ends, and aborts it through `silent` once it says nothing for
	// streamSilenceMs.
	private async readStream(body: ReadableStream<Uint8Array>, silent: AbortController, signal: AbortSignal) {
		const heard = { at: this.clock.now().getTime() }
		const ended = new AbortController()
		const watching = [
			this.watchSilence(heard, silent, AbortSignal.any([signal, ended.signal])),
			this.watchSnapshots(AbortSignal.any([signal, ended.signal])),
		]
		try {
			await readEvents(
				body,
				(name, data) => this.onEvent(name, data),
				() => (heard.at = this.clock.now().getTime()),
			)
		} finally {
			ended.abort()
			await Promise.all(watching)
		}
	}

	// Asks for the snapshots' names every snapshotsEveryMs, and offers them anew when they
	// change; until `stop` aborts.
	private async watchSnapshots(stop: AbortSignal): Promise<void> {
		const gateway = this.followed() as Gateway
		for (;;) {
			await this.clock.sleep(this.times.snapshotsEveryMs, stop)
			if (stop.aborted) return
			const names = await gateway.snapshots(stop).catch(() => this.#snapshots)
			if (stop.aborted) return
			if (JSON.stringify(names) === JSON.stringify(this.#snapshots)) continue
			this.#snapshots = names
			this.define()
		}
	}

	// Aborts the stream once nothing has come from it for streamSilenceMs; returns then, or when
	// `stop` aborts (the stream ended, or the module stops).
	private async watchSilence(heard: { at: number }, silent: AbortController, stop: AbortSignal): Promise<void> {
		while (!stop.aborted) {
			const quiet = this.clock.now().getTime() - heard.at
			if (quiet >= this.times.streamSilenceMs) return silent.abort()
			await this.clock.sleep(this.times.streamSilenceMs - quiet, stop)
		}
	}

	private follows(id: string): boolean {
		return this.#wanted === 'all' || this.#wanted.includes(id)
	}

	// The definitions follow the tables, the units, their labels and the snapshots; each is
	// given again only when what it shows changes.
	private define(): void {
		const followed = [...this.#followed]
		const variables = JSON.stringify([this.meta, followed])
		if (variables !== this.#variablesDefined) {
			this.#variablesDefined = variables
			this.#sent.clear()
			this.host.setVariableDefinitions(variableDefinitions(this.meta, followed))
		}
		const labels = labelValues([...this.#units.values()])
		const key = JSON.stringify([this.meta, followed, labels, this.#snapshots, this.host.label])
		if (key === this.#defined) return
		this.#defined = key
		this.host.setActionDefinitions(actionDefinitions(this))
		this.host.setFeedbackDefinitions(feedbackDefinitions(this))
		this.host.setPresetDefinitions(presetDefinitions(this.meta, followed, labels, this.host.label))
	}

	// A unit new to the module, or named or labelled anew, changes what the definitions offer.
	private onUnit(unit: Unit): void {
		const before = this.#units.get(unit.unit)
		this.#units.set(unit.unit, unit)
		if (!before && this.follows(unit.unit)) this.#followed.add(unit.unit)
		const renamed = before?.name !== unit.name || JSON.stringify(before?.labels) !== JSON.stringify(unit.labels)
		if (renamed) {
			this.#picks.clear()
			this.define()
		}
		if (this.#followed.has(unit.unit)) this.publish(unit)
		this.host.checkFeedbacks()
	}

	private onEvent(name: string, data: string): void {
		let value: any
		try {
			value = JSON.parse(data)
		} catch {
			return
		}
		if (name === 'unit' && typeof value?.unit === 'string') {
			this.onUnit(value)
		} else if (name === 'outcome' && this.#pending.has(value?.command)) {
			const { unit, label } = this.#pending.get(value.command) as { unit: string; label: string }
			this.#pending.delete(value.command)
			const done = value.status === 200
			const text = `${unit}: ${label} ${done ? 'done' : `failed: ${value.reply?.error ?? `HTTP ${value.status}`}`}`
			this.host.log(done ? 'info' : 'error', text)
			this.setVariables({ [LAST_OUTCOME]: text })
		}
	}

	private publish(unit: Unit): void {
		const up = this.isUp(unit.unit)
		const readTime = up ? this.clock.now().toISOString() : (unit.statusTime ?? '')
		this.setVariables(variableValues(this.meta, unit, up, readTime))
	}

	// Companion is sent only the values that changed.
	private setVariables(values: CompanionVariableValues): void {
		const changed: CompanionVariableValues = {}
		for (const [id, value] of Object.entries(values)) {
			if (this.#sent.has(id) && this.#sent.get(id) === value) continue
			this.#sent.set(id, value)
			changed[id] = value
		}
		if (Object.keys(changed).length) this.host.setVariableValues(changed)
	}

	// The same status twice is said once: a gateway tried again and again stays as it failed.
	private setStatus(status: InstanceStatus, message = ''): void {
		const key = `${status} ${message}`
		if (key === this.#status) return
		this.#status = key
		this.host.updateStatus(status, message)
	}

	private setLive(live: boolean): void {
		if (this.#live === live) return
		this.#live = live
		for (const id of this.#followed) {
			const unit = this.#units.get(id)
			if (unit) this.publish(unit)
		}
		this.host.checkFeedbacks()
	}

	// The read times of up units move on while the stream says nothing has changed.
	private async tick(signal: AbortSignal): Promise<void> {
		while (!signal.aborted) {
			await this.clock.sleep(TICK_MS, signal)
			const now = this.clock.now().toISOString()
			const times: CompanionVariableValues = {}
			for (const id of this.#followed) if (this.isUp(id)) times[variableId(id, 'read_time')] = now
			this.setVariables(times)
		}
	}
}

function failure(message: string): Ending {
	return { status: InstanceStatus.ConnectionFailure, message, wasLive: false }
}

// A refused request: a token or address the gateway will not take is the settings' fault.
async function refusal(response: Response, what: string): Promise<Ending> {
	const { error } = await replyOf(response)
	const reason = `${what}: HTTP ${response.status}${typeof error === 'string' && error ? `, ${error}` : ''}`
	if ([401, 403, 421].includes(response.status)) {
		return { status: InstanceStatus.BadConfig, message: reason, wasLive: false }
	}
	return failure(reason)
}
