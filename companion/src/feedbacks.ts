import { combineRgb, type CompanionFeedbackDefinitions, type CompanionOptionValues } from '@companion-module/base'
import { levelBar } from './level_bar.js'
import { meterModeOf, type Unit } from './meta.js'
import { inputOption, isGroup, levelOption, meterModeOption, shownOptions, unitOption } from './options.js'
import type { RackView } from './view.js'

/** A lit button's style, and an up unit's; the presets give their feedbacks the same. */
export const LIT = { bgcolor: combineRgb(0xe0, 0x9a, 0x00), color: combineRgb(0, 0, 0) }
export const UP = { bgcolor: combineRgb(0x1f, 0x7a, 0x35), color: combineRgb(0xff, 0xff, 0xff) }
/** A group's button while some of its units are lit (or up) and some not. */
export const PART = { bgcolor: combineRgb(0x5a, 0x3c, 0x00), color: combineRgb(0xff, 0xff, 0xff) }
const BUTTON_SIZE = 72

/** A group's answer from whether each of its units holds: `all` of them (and at least one),
 * `any`, or `mixed` (some do, some not). */
export function groupHolds(match: string, holding: boolean[]): boolean {
	const some = holding.includes(true)
	const notAll = holding.includes(false)
	if (match === 'any') return some
	if (match === 'mixed') return some && notAll
	return some && !notAll
}

export function feedbackDefinitions(view: RackView): CompanionFeedbackDefinitions {
	const { meta } = view
	// A unit's values light a button only while they are current.
	const current = (id: unknown) => (view.isUp(String(id)) ? view.unit(String(id)) : undefined)
	// Whether the unit shown holds `test`; for a group, as its match option asks of its units.
	const holds = (options: CompanionOptionValues, test: (unit: Unit) => boolean): boolean => {
		if (!isGroup(options)) {
			const unit = current(options.unit)
			return unit !== undefined && test(unit)
		}
		const members = view.members(String(options.select))
		return groupHolds(
			String(options.match),
			members.map((unit) => unit !== undefined && test(unit)),
		)
	}
	return {
		lamp: {
			type: 'boolean',
			name: 'A lamp is lit',
			defaultStyle: LIT,
			options: [
				...shownOptions(view),
				{
					type: 'dropdown',
					id: 'lamp',
					label: 'Lamp',
					default: meta.lamps[0]?.field ?? '',
					choices: meta.lamps.map((lamp) => ({ id: lamp.field, label: lamp.label })),
				},
			],
			callback: ({ options }) => holds(options, (unit) => unit[String(options.lamp)] === 1),
		},
		input: {
			type: 'boolean',
			name: 'The input is',
			defaultStyle: LIT,
			options: [...shownOptions(view), inputOption(meta)],
			callback: ({ options }) => holds(options, (unit) => unit.input === Number(options.input)),
		},
		meter_mode: {
			type: 'boolean',
			name: 'The meter mode is',
			defaultStyle: LIT,
			options: [...shownOptions(view), meterModeOption(meta)],
			callback: ({ options }) => holds(options, (unit) => meterModeOf(unit) === Number(options.mode)),
		},
		unit_up: {
			type: 'boolean',
			name: 'The unit is up',
			defaultStyle: UP,
			options: shownOptions(view),
			callback: ({ options }) => holds(options, () => true),
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
