import type { EntryReader } from './gateway.js'
import type { Meta, Unit } from './meta.js'

/** What the definitions read from the module's state, and the one way they command units. */
export interface RackView {
	readonly meta: Meta
	/** The units followed, in the gateway's order. */
	units(): string[]
	unit(id: string): Unit | undefined
	/** Up at the gateway, with the event stream live: its values are current. */
	isUp(id: string): boolean
	/** Sends one command to each unit; a failure is logged naming the unit. */
	command(units: string[], label: string, path: string, body: object): Promise<void>
	/**
	 * Sends one request for the units a selector picks, to `path` (a group route, or a snapshot's
	 * apply) with `body`; each unit's failure is logged naming it, the gateway's refusal of the
	 * whole naming the selector.
	 */
	groupCommand(group: Group, label: string, path: string, body: object, read?: EntryReader): Promise<void>
	/** The gateway's units that a selector picks, each with its values while they are current. */
	members(select: string): (Unit | undefined)[]
	/** The gateway's snapshots, by name. */
	snapshots(): string[]
}

/** A group action's units: a selector's text, and whether the first failure stops the rest. */
export interface Group {
	select: string
	stopOnFailure: boolean
}

/** The option value that means every unit followed. */
export const ALL_UNITS = '*'

/** A variable id's part for a unit: "127.0.0.2" -> "127_0_0_2". */
export function unitKey(id: string): string {
	return id.replace(/[^A-Za-z0-9]/g, '_')
}

/** A level's part of a variable or option id: "lcd-brightness" -> "lcd_brightness". */
export function levelKey(name: string): string {
	return name.replace(/[^A-Za-z0-9]/g, '_')
}
