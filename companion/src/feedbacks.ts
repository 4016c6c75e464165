import { combineRgb, type CompanionFeedbackDefinitions, type CompanionInputFieldDropdown } from '@companion-module/base'
import { levelBar } from './level_bar.js'
import { meterModeOf } from './meta.js'
import type { RackView } from './view.js'

const LIT = { bgcolor: combineRgb(0xe0, 0x9a, 0x00), color: combineRgb(0, 0, 0) }
const UP = { bgcolor: combineRgb(0x1f, 0x7a, 0x35), color: combineRgb(0xff, 0xff, 0xff) }
const BUTTON_SIZE = 72

function unitOption(view: RackView): CompanionInputFieldDropdown {
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

export function feedbackDefinitions(view: RackView): CompanionFeedbackDefinitions {
	const { meta } = view
	// A unit's values light a button only while they are current.
	const current = (id: unknown) => (view.isUp(String(id)) ? view.unit(String(id)) : undefined)
	return {
		lamp: {
			type: 'boolean',
			name: 'A lamp is lit',
			defaultStyle: LIT,
			options: [
				unitOption(view),
				{
					type: 'dropdown',
					id: 'lamp',
					label: 'Lamp',
					default: meta.lamps[0]?.field ?? '',
					choices: meta.lamps.map((lamp) => ({ id: lamp.field, label: lamp.label })),
				},
			],
			callback: (feedback) => current(feedback.options.unit)?.[String(feedback.options.lamp)] === 1,
		},
		input: {
			type: 'boolean',
			name: 'The input is',
			defaultStyle: LIT,
			options: [
				unitOption(view),
				{
					type: 'dropdown',
					id: 'input',
					label: 'Input',
					default: meta.inputs[0]?.value ?? 0,
					choices: meta.inputs.map((input) => ({ id: input.value, label: input.label })),
				},
			],
			callback: (feedback) => {
				const unit = current(feedback.options.unit)
				return unit !== undefined && unit.input === Number(feedback.options.input)
			},
		},
		meter_mode: {
			type: 'boolean',
			name: 'The meter mode is',
			defaultStyle: LIT,
			options: [
				unitOption(view),
				{
					type: 'dropdown',
					id: 'mode',
					label: 'Meter mode',
					default: meta.meterModes[0]?.value ?? 0,
					choices: meta.meterModes.map((mode) => ({ id: mode.value, label: mode.label })),
				},
			],
			callback: (feedback) => {
				const unit = current(feedback.options.unit)
				return unit !== undefined && meterModeOf(unit) === Number(feedback.options.mode)
			},
		},
		unit_up: {
			type: 'boolean',
			name: 'The unit is up',
			defaultStyle: UP,
			options: [unitOption(view)],
			callback: (feedback) => view.isUp(String(feedback.options.unit)),
		},
		level_bar: {
			type: 'advanced',
			name: 'A level as a bar',
			options: [
				unitOption(view),
				{
					type: 'dropdown',
					id: 'level',
					label: 'Level',
					default: meta.levels[0]?.name ?? '',
					choices: meta.levels.map((level) => ({ id: level.name, label: level.label })),
				},
			],
			callback: (feedback) => {
				const slot = meta.levels.findIndex((level) => level.name === feedback.options.level)
				const value = current(feedback.options.unit)?.levels?.[slot]
				if (slot < 0 || typeof value !== 'number') return {}
				const { width, height } = feedback.image ?? { width: BUTTON_SIZE, height: BUTTON_SIZE }
				return levelBar(value, meta.levels[slot].highest, width, height)
			},
		},
	}
}
