import type {
	CompanionInputFieldDropdown,
	CompanionInputFieldMultiDropdown,
	CompanionOptionValues,
} from '@companion-module/base'
import type { Meta } from './meta.js'
import { ALL_UNITS, type RackView } from './view.js'

// The option fields that actions and feedbacks share, each built from the gateway's tables.

/** The units an action goes to: every unit followed, or those chosen. */
export function unitsOption(view: RackView): CompanionInputFieldMultiDropdown {
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

/** The one unit a feedback shows; a unit not followed yet may be typed in. */
export function unitOption(view: RackView): CompanionInputFieldDropdown {
	const units = view.units()
	return {
		type: 'dropdown',
		id: 'unit',
		label: 'Unit',
		default: units[0] ?? '',
		choices: units.map((id) => ({ id, label: id })),
		allowCustom: true,
	}
}

export function levelOption(meta: Meta): CompanionInputFieldDropdown {
	const choices = meta.levels.map((level) => ({ id: level.name, label: level.label }))
	return { type: 'dropdown', id: 'level', label: 'Level', default: choices[0]?.id ?? '', choices }
}

export function inputOption(meta: Meta): CompanionInputFieldDropdown {
	return {
		type: 'dropdown',
		id: 'input',
		label: 'Input',
		default: meta.inputs[0]?.value ?? 0,
		choices: meta.inputs.map((input) => ({ id: input.value, label: input.label })),
	}
}

export function meterModeOption(meta: Meta): CompanionInputFieldDropdown {
	return {
		type: 'dropdown',
		id: 'mode',
		label: 'Meter mode',
		default: meta.meterModes[0]?.value ?? 0,
		choices: meta.meterModes.map((mode) => ({ id: mode.value, label: mode.label })),
	}
}
