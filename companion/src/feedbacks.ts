import { combineRgb, type CompanionFeedbackDefinitions } from '@companion-module/base'
import { levelBar } from './level_bar.js'
import { meterModeOf } from './meta.js'
import { inputOption, levelOption, meterModeOption, unitOption } from './options.js'
import type { RackView } from './view.js'

/** A lit button's style, and an up unit's; the presets give their feedbacks the same. */
export const LIT = { bgcolor: combineRgb(0xe0, 0x9a, 0x00), color: combineRgb(0, 0, 0) }
export const UP = { bgcolor: combineRgb(0x1f, 0x7a, 0x35), color: combineRgb(0xff, 0xff, 0xff) }
const BUTTON_SIZE = 72

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
			options: [unitOption(view), inputOption(meta)],
			callback: (feedback) => current(feedback.options.unit)?.input === Number(feedback.options.input),
		},
		meter_mode: {
			type: 'boolean',
			name: 'The meter mode is',
			defaultStyle: LIT,
			options: [unitOption(view), meterModeOption(meta)],
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
			options: [unitOption(view), levelOption(meta)],
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
