// A small fake of the part of Companion's host that a module calls: it records what the module
// says, and runs the module's action and feedback callbacks as Companion would.
import type {
	CompanionActionDefinitions,
	CompanionFeedbackDefinitions,
	CompanionOptionValues,
	CompanionPresetDefinitions,
	CompanionVariableDefinition,
	CompanionVariableValue,
	CompanionVariableValues,
	InstanceStatus,
	LogLevel,
} from '@companion-module/base'
import type { Host } from '../src/host.js'

const context = {
	parseVariablesInString: async (text: string) => text,
	setCustomVariableValue: () => undefined,
}

export class FakeHost implements Host {
	readonly label = 'vantrel'
	statuses: { status: InstanceStatus; message: string }[] = []
	logs: { level: LogLevel; message: string }[] = []
	actions: CompanionActionDefinitions = {}
	feedbacks: CompanionFeedbackDefinitions = {}
	presets: CompanionPresetDefinitions = {}
	variables: CompanionVariableDefinition[] = []
	values: Record<string, CompanionVariableValue | undefined> = {}
	sent: CompanionVariableValues[] = [] // each call's values

	updateStatus(status: InstanceStatus, message?: string | null): void {
		this.statuses.push({ status, message: message ?? '' })
	}
	log(level: LogLevel, message: string): void {
		this.logs.push({ level, message })
	}
	setActionDefinitions(actions: CompanionActionDefinitions): void {
		this.actions = actions
	}
	setFeedbackDefinitions(feedbacks: CompanionFeedbackDefinitions): void {
		this.feedbacks = feedbacks
	}
	setPresetDefinitions(presets: CompanionPresetDefinitions): void {
		this.presets = presets
	}
	setVariableDefinitions(variables: CompanionVariableDefinition[]): void {
		this.variables = variables
	}
	setVariableValues(values: CompanionVariableValues): void {
		this.sent.push(values)
		Object.assign(this.values, values)
	}
	checkFeedbacks(): void {}

	get status(): { status: InstanceStatus; message: string } | undefined {
		return this.statuses.at(-1)
	}

	async runAction(actionId: string, options: CompanionOptionValues): Promise<void> {
		const action = this.actions[actionId]
		if (!action) throw new Error(`no action ${actionId}`)
		await action.callback({ id: 'a1', controlId: 'c1', actionId, options, surfaceId: undefined }, context)
	}

	async feedback(feedbackId: string, options: CompanionOptionValues): Promise<unknown> {
		const feedback = this.feedbacks[feedbackId]
		if (!feedback) throw new Error(`no feedback ${feedbackId}`)
		const event = { type: feedback.type, id: 'f1', controlId: 'c1', feedbackId, options }
		return feedback.callback({ ...event, image: { width: 72, height: 72 } } as never, context)
	}
}
