import type {
	CompanionActionDefinitions,
	CompanionInputFieldMultiDropdown,
	CompanionOptionValues,
} from '@companion-module/base'
import type { MetaChoice } from './meta.js'
import { ALL_UNITS, type RackView } from './view.js'

function unitsOption(view: RackView): CompanionInputFieldMultiDropdown {
	return {
		type: 'multidropdown',
		id: 'units',
		label: 'Units',
		default: [ALL_UNITS],
		minSelection: 1,
		choices: [{ id: ALL_UNITS, label: 'All units' }, ...view.units().map((id) => ({ id, label: id }))],
	}
}

/** The units an action names: every unit followed, or those chosen. */
export function targets(view: RackView, options: CompanionOptionValues): string[] {
	const chosen = Array.isArray(options.units) ? options.units.map(String) : [String(options.units ?? ALL_UNITS)]
	return chosen.includes(ALL_UNITS) ? view.units() : chosen
}

// The button that chooses a value; the value itself when none does, which the gateway refuses.
function buttonOf(choices: MetaChoice[], value: unknown): string {
	return choices.find((choice) => choice.value === Number(value))?.button ?? String(value)
}

export function actionDefinitions(view: RackView): CompanionActionDefinitions {
	const { meta } = view
	const levelChoices = meta.levels.map((level) => ({ id: level.name, label: level.label }))
	const highest = Math.max(...meta.levels.map((level) => level.highest), 0)
	const press = (options: CompanionOptionValues, button: string) => {
		const label = meta.buttons.find((entry) => entry.name === button)?.label ?? button
		return view.command(targets(view, options), label, `press/${button}`, {})
	}
	return {
		press: {
			name: 'Press a button',
			options: [
				unitsOption(view),
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
				unitsOption(view),
				{ type: 'dropdown', id: 'level', label: 'Level', default: levelChoices[0]?.id ?? '', choices: levelChoices },
				{ type: 'number', id: 'value', label: 'Value', default: 0, min: 0, max: highest },
			],
			callback: (action) => {
				const level = meta.levels.find((entry) => entry.name === action.options.level)
				const label = `${level?.label ?? action.options.level} to ${action.options.value}`
				return view.command(targets(view, action.options), label, `level/${action.options.level}`, {
					value: Number(action.options.value),
				})
			},
		},
		level_step: {
			name: 'Step a level',
			options: [
				unitsOption(view),
				{ type: 'dropdown', id: 'level', label: 'Level', default: levelChoices[0]?.id ?? '', choices: levelChoices },
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
			callback: (action) => {
				const level = meta.levels.find((entry) => entry.name === action.options.level)
				const label = `${level?.label ?? action.options.level} ${action.options.step}`
				return view.command(targets(view, action.options), label, `level/${action.options.level}`, {
					step: action.options.step,
				})
			},
		},
		input: {
			name: 'Choose the input',
			options: [
				unitsOption(view),
				{
					type: 'dropdown',
					id: 'input',
					label: 'Input',
					default: meta.inputs[0]?.value ?? 0,
					choices: meta.inputs.map((input) => ({ id: input.value, label: input.label })),
				},
			],
			callback: (action) => press(action.options, buttonOf(meta.inputs, action.options.input)),
		},
		meter_mode: {
			name: 'Choose the meter mode',
			options: [
				unitsOption(view),
				{
					type: 'dropdown',
					id: 'mode',
					label: 'Meter mode',
					default: meta.meterModes[0]?.value ?? 0,
					choices: meta.meterModes.map((mode) => ({ id: mode.value, label: mode.label })),
				},
			],
			callback: (action) => press(action.options, buttonOf(meta.meterModes, action.options.mode)),
		},
	}
}
