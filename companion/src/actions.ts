import type { CompanionActionDefinitions, CompanionOptionValues } from '@companion-module/base'
import { applyEntry } from './gateway.js'
import type { MetaChoice } from './meta.js'
import {
	groupOf,
	groupOptions,
	inputOption,
	isGroup,
	levelOption,
	meterModeOption,
	targetOptions,
	targets,
} from './options.js'
import { levelKey, type RackView } from './view.js'

// The button that chooses a value; the value itself when none does, which the gateway refuses.
function buttonOf(choices: MetaChoice[], value: unknown): string {
	return choices.find((choice) => choice.value === Number(value))?.button ?? String(value)
}

/** The option of a level's value in the set action: value_<level>. */
export function valueId(level: string): string {
	return `value_${levelKey(level)}`
}

export function actionDefinitions(view: RackView): CompanionActionDefinitions {
	const { meta } = view
	// One command per unit chosen, or one group command for the units a selector picks.
	const send = (options: CompanionOptionValues, label: string, route: string, body: object) =>
		isGroup(options)
			? view.groupCommand(groupOf(options), label, `api/groups/${route}`, body)
			: view.command(targets(view, options), label, route, body)
	const press = (options: CompanionOptionValues, button: string) => {
		const label = meta.buttons.find((entry) => entry.name === button)?.label ?? button
		return send(options, label, `press/${button}`, {})
	}
	// A level's command, logged as the level's label followed by `what`.
	const level = (options: CompanionOptionValues, what: string, body: object) => {
		const label = meta.levels.find((entry) => entry.name === options.level)?.label ?? options.level
		return send(options, `${label} ${what}`, `level/${options.level}`, body)
	}
	const snapshots = view.snapshots()
	return {
		press: {
			name: 'Press a button',
			options: [
				...targetOptions(view),
				{
					type: 'dropdown',
					id: 'button',
					label: 'Button',
					default: meta.buttons[0]?.name ?? '',
					choices: meta.buttons.map((button) => ({ id: button.name, label: button.label })),
				},
			],
			callback: (action) => press(action.options, String(action.options.button)),
		},
		level_set: {
			name: 'Set a level',
			options: [
				...targetOptions(view),
				levelOption(meta),
				// A value field per level, each with its own range, shown for its level only.
				...meta.levels.map((entry) => ({
					type: 'number' as const,
					id: valueId(entry.name),
					label: `Value (0-${entry.highest})`,
					default: 0,
					min: 0,
					max: entry.highest,
					isVisibleExpression: `$(options:level) == '${entry.name}'`,
				})),
			],
			callback: ({ options }) => {
				const value = Number(options[valueId(String(options.level))])
				return level(options, `to ${value}`, { value })
			},
		},
		level_step: {
			name: 'Step a level',
			options: [
				...targetOptions(view),
				levelOption(meta),
				{
					type: 'dropdown',
					id: 'step',
					label: 'Direction',
					default: 'up',
					choices: [
						{ id: 'up', label: 'Up' },
						{ id: 'down', label: 'Down' },
					],
				},
			],
			callback: ({ options }) => level(options, `${options.step}`, { step: options.step }),
		},
		input: {
			name: 'Choose the input',
			options: [...targetOptions(view), inputOption(meta)],
			callback: (action) => press(action.options, buttonOf(meta.inputs, action.options.input)),
		},
		meter_mode: {
			name: 'Choose the meter mode',
			options: [...targetOptions(view), meterModeOption(meta)],
			callback: (action) => press(action.options, buttonOf(meta.meterModes, action.options.mode)),
		},
		snapshot_recall: {
			name: 'Recall a snapshot on a group',
			options: [
				{
					type: 'dropdown',
					id: 'snapshot',
					label: 'Snapshot',
					default: snapshots[0] ?? '',
					choices: snapshots.map((name) => ({ id: name, label: name })),
					allowCustom: true,
				},
				...groupOptions(),
				{ type: 'checkbox', id: 'network', label: 'Network settings too', default: false },
			],
			callback: ({ options }) => {
				const name = String(options.snapshot)
				const path = `api/snapshots/${encodeURIComponent(name)}/apply`
				const body = { network: options.network === true }
				return view.groupCommand(groupOf(options), `Recall ${name}`, path, body, applyEntry)
			},
		},
	}
}
