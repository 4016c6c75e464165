/** The unit's tables as GET /api/meta gives them: the module repeats none of them. */
export interface MetaButton {
	name: string
	label: string
	kind: 'lamp' | 'input' | 'meter-mode' | 'level-step' | 'other'
	level?: string
	step?: 'up' | 'down'
}
export interface MetaLevel {
	name: string
	label: string
	highest: number
}
export interface MetaChoice {
	value: number
	label: string
	button: string
}
export interface MetaLamp {
	field: string
	label: string
	button: string
}
export interface Meta {
	buttons: MetaButton[]
	levels: MetaLevel[]
	inputs: MetaChoice[]
	meterModes: MetaChoice[]
	lamps: MetaLamp[]
}

/** A unit as the gateway's API and event stream give it (the fields the module uses). */
export interface Unit {
	unit: string
	/** The units file's name= and labels; absent from a gateway older than them. */
	name?: string | null
	labels?: Record<string, string>
	link: 'connecting' | 'up' | 'down' | 'maintenance'
	reason: string
	stale: boolean
	soloLeft: number | null
	soloRight: number | null
	mixDown: number | null
	meterMode: number | null
	input: number | null
	levels: number[] | null
	statusTime: string | null
	ip: string | null
	[field: string]: unknown
}

export function isMeta(value: unknown): value is Meta {
	const meta = value as Meta
	return (
		typeof meta === 'object' &&
		meta !== null &&
		['buttons', 'levels', 'inputs', 'meterModes', 'lamps'].every((key) => Array.isArray((meta as any)[key]))
	)
}

/** A meter mode other than 0 shows as DPPM (the second mode), as on the panel. */
export function meterModeOf(unit: Unit): number | null {
	if (unit.meterMode === null || unit.meterMode === undefined) return null
	return unit.meterMode === 0 ? 0 : 1
}
