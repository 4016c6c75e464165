import {
	combineRgb,
	type CompanionOptionValues,
	type CompanionPresetDefinitions,
	type CompanionPresetFeedback,
} from '@companion-module/base'
import { LIT, PART, UP } from './feedbacks.js'
import type { Meta, MetaButton } from './meta.js'
import type { Named } from './selector.js'
import { ALL_UNITS, levelKey, unitKey } from './view.js'
import { variableId } from './variables.js'

const STYLE = { size: 'auto' as const, color: combineRgb(0xff, 0xff, 0xff), bgcolor: combineRgb(0, 0, 0) }

// What lights a button of the panel: its lamp, its input or its meter mode, on the unit or
// group `shown` names. Companion copies a preset feedback's style as it is, so each carries the
// lit style itself.
function lightOf(meta: Meta, shown: CompanionOptionValues, button: MetaButton): CompanionPresetFeedback | undefined {
	const lamp = meta.lamps.find((entry) => entry.button === button.name)
	if (lamp) return { feedbackId: 'lamp', options: { ...shown, lamp: lamp.field }, style: LIT }
	const input = meta.inputs.find((entry) => entry.button === button.name)
	if (input) return { feedbackId: 'input', options: { ...shown, input: input.value }, style: LIT }
	const mode = meta.meterModes.find((entry) => entry.button === button.name)
	if (mode) return { feedbackId: 'meter_mode', options: { ...shown, mode: mode.value }, style: LIT }
	return undefined
}

// A group's button lit in full when all of its units hold, and dimmer while only some do.
function groupLight(light: CompanionPresetFeedback | undefined): CompanionPresetFeedback[] {
	if (!light) return []
	const some = { ...light, options: { ...light.options, match: 'mixed' }, style: PART }
	return [{ ...light, options: { ...light.options, match: 'all' } }, some]
}

// A level's button: press steps it up, a rotary encoder either way, on the units `target` names.
function levelSteps(target: CompanionOptionValues, level: string) {
	const step = (direction: string) => [{ actionId: 'level_step', options: { ...target, level, step: direction } }]
	return [{ down: step('up'), up: [], rotate_left: step('down'), rotate_right: step('up') }]
}

// A page whose buttons act on every unit followed; nothing lights them, as units may differ.
function allUnitsPage(meta: Meta, presets: CompanionPresetDefinitions): void {
	const category = 'All units'
	for (const button of panelOrder(meta)) {
		presets[`all_${button.name}`] = {
			type: 'button',
			category,
			name: `All units ${button.label}`,
			style: { ...STYLE, text: `All\n${button.label}` },
			feedbacks: [],
			steps: [{ down: [{ actionId: 'press', options: { units: [ALL_UNITS], button: button.name } }], up: [] }],
		}
	}
	for (const level of meta.levels) {
		presets[`all_level_${levelKey(level.name)}`] = {
			type: 'button',
			category,
			name: `All units ${level.label}`,
			options: { rotaryActions: true },
			style: { ...STYLE, text: `All\n${level.label}` },
			feedbacks: [],
			steps: levelSteps({ units: [ALL_UNITS] }, level.name),
		}
	}
}

// The buttons as the panel groups them: inputs, meter modes and lamps in the order of their
// values, then the rest; the level steps go on the levels' own buttons.
function panelOrder(meta: Meta): MetaButton[] {
	const named = (name: string) => meta.buttons.find((button) => button.name === name)
	const chosen = [...meta.inputs, ...meta.meterModes, ...meta.lamps].map((choice) => named(choice.button))
	const others = meta.buttons.filter((button) => button.kind === 'other')
	return [...chosen, ...others].filter((button): button is MetaButton => button !== undefined)
}

/** The label values the units have, as selectors (`site=studio-a`), sorted. */
export function labelValues(units: Named[]): string[] {
	const values = units.flatMap((unit) => Object.entries(unit.labels ?? {}).map(([key, value]) => `${key}=${value}`))
	return [...new Set(values)].sort()
}

// A page whose buttons act on the group a selector picks, each lit as its units are, and whose
// first button shows whether they are up.
function groupPage(meta: Meta, select: string, id: string, presets: CompanionPresetDefinitions): void {
	const category = `Group ${select}`
	const group = { target: 'group', select, stopOnFailure: false }
	const shown = { target: 'group', select }
	presets[`${id}_link`] = {
		type: 'button',
		category,
		name: `${select} up`,
		style: { ...STYLE, text: select },
		feedbacks: groupLight({ feedbackId: 'unit_up', options: shown, style: UP }),
		steps: [],
	}
	for (const button of panelOrder(meta)) {
		presets[`${id}_${button.name}`] = {
			type: 'button',
			category,
			name: `${select} ${button.label}`,
			style: { ...STYLE, text: `${select}\n${button.label}` },
			feedbacks: groupLight(lightOf(meta, shown, button)),
			steps: [{ down: [{ actionId: 'press', options: { ...group, button: button.name } }], up: [] }],
		}
	}
	for (const level of meta.levels) {
		presets[`${id}_level_${levelKey(level.name)}`] = {
			type: 'button',
			category,
			name: `${select} ${level.label}`,
			options: { rotaryActions: true },
			style: { ...STYLE, text: `${select}\n${level.label}` },
			feedbacks: [],
			steps: levelSteps(group, level.name),
		}
	}
}

/**
 * A page per unit, as its panel: its link, every button with its light, and each level; a
 * page whose buttons act on all units; and one per label value (`labels`), acting on the group
 * it picks.
 */
export function presetDefinitions(
	meta: Meta,
	units: string[],
	labels: string[],
	connection: string,
): CompanionPresetDefinitions {
	const presets: CompanionPresetDefinitions = {}
	if (units.length) allUnitsPage(meta, presets)
	labels.forEach((select, at) => groupPage(meta, select, `label_${at}`, presets))
	for (const unit of units) {
		const category = `Unit ${unit}`
		const key = unitKey(unit)
		presets[`${key}_link`] = {
			type: 'button',
			category,
			name: `${unit} link`,
			style: { ...STYLE, text: `${unit}\n$(${connection}:${variableId(unit, 'link')})` },
			feedbacks: [{ feedbackId: 'unit_up', options: { unit }, style: UP }],
			steps: [],
		}
		for (const button of panelOrder(meta)) {
			presets[`${key}_${button.name}`] = {
				type: 'button',
				category,
				name: `${unit} ${button.label}`,
				style: { ...STYLE, text: button.label },
				feedbacks: [lightOf(meta, { unit }, button)].filter((light) => light !== undefined),
				steps: [{ down: [{ actionId: 'press', options: { units: [unit], button: button.name } }], up: [] }],
			}
		}
		// A level: its value over its bar.
		for (const level of meta.levels) {
			presets[`${key}_level_${levelKey(level.name)}`] = {
				type: 'button',
				category,
				name: `${unit} ${level.label}`,
				options: { rotaryActions: true },
				style: { ...STYLE, text: `${level.label}\n$(${connection}:${variableId(unit, levelKey(level.name))})` },
				feedbacks: [{ feedbackId: 'level_bar', options: { unit, level: level.name } }],
				steps: levelSteps({ units: [unit] }, level.name),
			}
		}
	}
	return presets
}
