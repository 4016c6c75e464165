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
