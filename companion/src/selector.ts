// The gateway's selectors, matched here as the gateway matches them, so that a group feedback
// shows the units that a group action with the same text acts on.

/** `key=value` holds when the unit has that label with that value; `key!=value` when it has
 * not (a unit without the label holds it). The key `name` is the unit's name. */
export interface LabelTerm {
	key: string
	value: string
	equal: boolean
}

export type Selector = { kind: 'all' } | { kind: 'units'; units: string[] } | { kind: 'labels'; terms: LabelTerm[] }

export type SelectorFault = 'empty' | 'bad-term' | 'mixed'
export type SelectFault = 'unknown-unit' | 'no-match'

/** What a selector is matched against: a unit as GET /api/units gives it. */
export interface Named {
	unit: string
	name?: string | null
	labels?: Record<string, string>
}

/** "all", "127.0.0.2", "qc-1,qc-2", "site=studio-a,role=qc", "role!=spare"; or what is wrong
 * with the text, and the item at fault. */
export function parseSelector(text: string): { selector: Selector } | { fault: SelectorFault; text: string } {
	if (text === 'all') return { selector: { kind: 'all' } }
	const units: string[] = []
	const terms: LabelTerm[] = []
	for (const item of text.split(',')) {
		if (item === '') return { fault: 'empty', text }
		const equals = item.indexOf('=')
		if (equals < 0 ? terms.length : units.length) return { fault: 'mixed', text }
		if (equals < 0) {
			units.push(item)
			continue
		}
		const equal = equals === 0 || item[equals - 1] !== '!'
		const term = { key: item.slice(0, equal ? equals : equals - 1), value: item.slice(equals + 1), equal }
		if (term.key === '' || term.value === '') return { fault: 'bad-term', text: item }
		terms.push(term)
	}
	return { selector: units.length ? { kind: 'units', units } : { kind: 'labels', terms } }
}

function holds(term: LabelTerm, unit: Named): boolean {
	const value = term.key === 'name' ? unit.name : unit.labels?.[term.key]
	return (value === term.value) === term.equal
}

function named(item: string, unit: Named): boolean {
	return item === unit.unit || (!!unit.name && item === unit.name)
}

/** The indices of the units picked, in the units' order; or why none are. */
export function select(
	selector: Selector,
	units: Named[],
): { picked: number[] } | { fault: SelectFault; text: string } {
	const picked = units.map(() => selector.kind === 'all')
	if (selector.kind === 'units') {
		for (const item of selector.units) {
			const found = units.findIndex((unit) => named(item, unit))
			if (found < 0) return { fault: 'unknown-unit', text: item }
			picked[found] = true
		}
	} else if (selector.kind === 'labels') {
		units.forEach((unit, at) => (picked[at] = selector.terms.every((term) => holds(term, unit))))
	}
	const indices = picked.flatMap((chosen, at) => (chosen ? [at] : []))
	return indices.length ? { picked: indices } : { fault: 'no-match', text: '' }
}

/** The units a selector's text picks; none when it is bad or picks none, as the gateway then
 * acts on none. */
export function pick<T extends Named>(text: string, units: T[]): T[] {
	const parsed = parseSelector(text)
	if (!('selector' in parsed)) return []
	const chosen = select(parsed.selector, units)
	return 'picked' in chosen ? chosen.picked.map((at) => units[at]) : []
}
