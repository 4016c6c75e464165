import type { CompanionVariableDefinition, CompanionVariableValues } from '@companion-module/base'
import { meterModeOf, type Meta, type Unit } from './meta.js'
import { levelKey, unitKey } from './view.js'

/** unit_<unit>_<what>: the four levels, input, meter mode, IP, link and the last read's time. */
export function variableId(unit: string, what: string): string {
	return `unit_${unitKey(unit)}_${what}`
}

/** The last action's outcome: "<unit>: <what> done", or "... failed: <why>". */
export const LAST_OUTCOME = 'last_outcome'

export function variableDefinitions(meta: Meta, units: string[]): CompanionVariableDefinition[] {
	const last = { variableId: LAST_OUTCOME, name: "The last action's outcome (unit: what, done or failed: why)" }
	return [
		last,
		...units.flatMap((unit) => [
			...meta.levels.map((level) => ({
				variableId: variableId(unit, levelKey(level.name)),
				name: `${unit} ${level.label}`,
			})),
			{ variableId: variableId(unit, 'input'), name: `${unit} input` },
			{ variableId: variableId(unit, 'meter_mode'), name: `${unit} meter mode` },
			{ variableId: variableId(unit, 'ip'), name: `${unit} IP address` },
			{ variableId: variableId(unit, 'link'), name: `${unit} up or down (up, connecting, down)` },
			{ variableId: variableId(unit, 'read_time'), name: `${unit} time its values were last read (UTC)` },
		]),
	]
}

/**
 * A unit's variables. `readTime` is when its values were last known current: the gateway
 * pushes every change, so while the unit is up and the stream live that is now; otherwise the
 * gateway's last read.
 */
export function variableValues(meta: Meta, unit: Unit, up: boolean, readTime: string): CompanionVariableValues {
	const id = unit.unit
	const values: CompanionVariableValues = {}
	meta.levels.forEach((level, slot) => {
		values[variableId(id, levelKey(level.name))] = unit.levels?.[slot] ?? ''
	})
	const meterMode = meterModeOf(unit)
	values[variableId(id, 'input')] = meta.inputs.find((input) => input.value === unit.input)?.label ?? ''
	values[variableId(id, 'meter_mode')] = meterMode === null ? '' : (meta.meterModes[meterMode]?.label ?? '')
	values[variableId(id, 'ip')] = unit.ip ?? ''
	values[variableId(id, 'link')] = up ? 'up' : unit.link === 'up' ? 'down' : unit.link
	values[variableId(id, 'read_time')] = readTime
	return values
}
