import { combineRgb, type CompanionPresetDefinitions, type CompanionPresetFeedback } from '@companion-module/base'
import type { Meta, MetaButton } from './meta.js'
import { levelKey, unitKey } from './view.js'
import { variableId } from './variables.js'

const STYLE = { size: 'auto' as const, color: combineRgb(0xff, 0xff, 0xff), bgcolor: combineRgb(0, 0, 0) }

// What lights a button of the panel: its lamp, its input or its meter mode.
function lightOf(meta: Meta, unit: string, button: MetaButton): CompanionPresetFeedback[] {
	const lamp = meta.lamps.find((entry) => entry.button === button.name)
	if (lamp) return [{ feedbackId: 'lamp', options: { unit, lamp: lamp.field }, style: {} }]
	const input = meta.inputs.find((entry) => entry.button === button.name)
	if (input) return [{ feedbackId: 'input', options: { unit, input: input.value }, style: {} }]
	const mode = meta.meterModes.find((entry) => entry.button === button.name)
	if (mode) return [{ feedbackId: 'meter_mode', options: { unit, mode: mode.value }, style: {} }]
	return []
}

// The buttons as the panel groups them: inputs, meter modes and lamps in the order of their
// values, then the rest; the level steps go on the levels' own buttons.
function panelOrder(meta: Meta): MetaButton[] {
	const named = (name: string) => meta.buttons.find((button) => button.name === name)
	const chosen = [...meta.inputs, ...meta.meterModes, ...meta.lamps].map((choice) => named(choice.button))
	const others = meta.buttons.filter((button) => button.kind === 'other')
	return [...chosen, ...others].filter((button): button is MetaButton => button !== undefined)
}

/** A page per unit, as its panel: its link, every button with its light, and each level. */
export function presetDefinitions(meta: Meta, units: string[], connection: string): CompanionPresetDefinitions {
	const presets: CompanionPresetDefinitions = {}
	for (const unit of units) {
		const category = `Unit ${unit}`
		const key = unitKey(unit)
		presets[`${key}_link`] = {
			type: 'button',
			category,
			name: `${unit} link`,
			style: { ...STYLE, text: `${unit}\n$(${connection}:${variableId(unit, 'link')})` },
			feedbacks: [{ feedbackId: 'unit_up', options: { unit }, style: {} }],
			steps: [],
		}
		for (const button of panelOrder(meta)) {
			presets[`${key}_${button.name}`] = {
				type: 'button',
				category,
				name: `${unit} ${button.label}`,
				style: { ...STYLE, text: button.label },
				feedbacks: lightOf(meta, unit, button),
				steps: [{ down: [{ actionId: 'press', options: { units: [unit], button: button.name } }], up: [] }],
			}
		}
		// A level: its value over its bar; press steps it up, a rotary encoder either way.
		for (const level of meta.levels) {
			const step = (direction: string) => [
				{ actionId: 'level_step', options: { units: [unit], level: level.name, step: direction } },
			]
			presets[`${key}_level_${levelKey(level.name)}`] = {
				type: 'button',
				category,
				name: `${unit} ${level.label}`,
				options: { rotaryActions: true },
				style: { ...STYLE, text: `${level.label}\n$(${connection}:${variableId(unit, levelKey(level.name))})` },
				feedbacks: [{ feedbackId: 'level_bar', options: { unit, level: level.name } }],
				steps: [{ down: step('up'), up: [], rotate_left: step('down'), rotate_right: step('up') }],
			}
		}
	}
	return presets
}
