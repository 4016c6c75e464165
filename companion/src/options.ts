import type {
	CompanionInputFieldDropdown,
	CompanionInputFieldMultiDropdown,
	CompanionInputFieldTextInput,
	CompanionOptionValues,
	SomeCompanionActionInputField,
	SomeCompanionFeedbackInputField,
} from '@companion-module/base'
import type { Meta } from './meta.js'
import { ALL_UNITS, type Group, type RackView } from './view.js'

// The option fields that actions and feedbacks share, each built from the gateway's tables.

const GROUP = 'group'
const ONLY_GROUP = `$(options:target) == '${GROUP}'`
const NOT_GROUP = `$(options:target) != '${GROUP}'`

/** Whether the options name a group (a selector) rather than units; those made before groups
 * name units. */
export function isGroup(options: CompanionOptionValues): boolean {
	return options.target === GROUP
}

function targetOption(units: string): CompanionInputFieldDropdown {
	return {
		type: 'dropdown',
		id: 'target',
		label: 'Units or a group',
		default: 'units',
		choices: [
			{ id: 'units', label: units },
			{ id: GROUP, label: 'A group, by a selector' },
		],
	}
}

// A selector's text, as the gateway takes it.
function selectOption(isVisibleExpression?: string): CompanionInputFieldTextInput {
	return {
		type: 'textinput',
		id: 'select',
		label: 'Selector: all, label terms (site=studio-a,role!=spare) or units (qc-1,qc-2)',
		default: 'all',
		isVisibleExpression,
	}
}

/** The units an action goes to: every unit followed, or those chosen. */
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

/** The units an action goes to: some of those followed, or a group the gateway picks. */
export function targetOptions(view: RackView): SomeCompanionActionInputField[] {
	return [
		targetOption('Units chosen'),
		{ ...unitsOption(view), isVisibleExpression: NOT_GROUP },
		...groupOptions(ONLY_GROUP),
	]
}

/** A group's selector, and whether its first failure stops the rest. */
export function groupOptions(isVisibleExpression?: string): SomeCompanionActionInputField[] {
	return [
		selectOption(isVisibleExpression),
		{
			type: 'checkbox',
			id: 'stopOnFailure',
			label: 'One unit after another, stopping at the first failure',
			default: false,
			isVisibleExpression,
		},
	]
}

export function groupOf(options: CompanionOptionValues): Group {
	return { select: String(options.select ?? ''), stopOnFailure: options.stopOnFailure === true }
}

/** A feedback's one unit, or a group of units and which of them must hold. */
export function shownOptions(view: RackView): SomeCompanionFeedbackInputField[] {
	return [
		targetOption('One unit'),
		{ ...unitOption(view), isVisibleExpression: NOT_GROUP },
		selectOption(ONLY_GROUP),
		{
			type: 'dropdown',
			id: 'match',
			label: 'Lit when',
			default: 'all',
			choices: [
				{ id: 'all', label: 'All of its units hold' },
				{ id: 'any', label: 'Any of its units holds' },
				{ id: 'mixed', label: 'Some hold and some not' },
			],
			isVisibleExpression: ONLY_GROUP,
		},
	]
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
