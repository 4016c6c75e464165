import type { InstanceBase } from '@companion-module/base'
import type { Config, Secrets } from './config.js'

/**
 * The part of Companion's host that the module calls. The instance itself is one; tests give
 * a small fake of it.
 */
export type Host = Pick<
	InstanceBase<Config, Secrets>,
	| 'updateStatus'
	| 'log'
	| 'setActionDefinitions'
	| 'setFeedbackDefinitions'
	| 'setPresetDefinitions'
	| 'setVariableDefinitions'
	| 'setVariableValues'
	| 'checkFeedbacks'
	| 'label'
>

/** Every pause and the wall clock, in one place so that tests can see them. */
export interface Clock {
	now(): Date
	/** Resolves after `ms`, or at once when `signal` aborts. */
	sleep(ms: number, signal?: AbortSignal): Promise<void>
}

export const realClock: Clock = {
	now: () => new Date(),
	sleep: (ms, signal) =>
		new Promise((resolve) => {
			if (signal?.aborted) return resolve()
			const timer = setTimeout(done, ms)
			function done() {
				clearTimeout(timer)
				signal?.removeEventListener('abort', done)
				resolve()
			}
			signal?.addEventListener('abort', done, { once: true })
		}),
}
