// Selectors matched as the gateway matches them (the same cases as its own tests), and a
// group feedback's answer from its units.
import { describe, expect, test } from 'vitest'
import { groupHolds } from '../src/feedbacks.js'
import { parseSelector, select, type Named } from '../src/selector.js'

// Unit i is 127.0.1.(i+1) named u<i>; the first is a spare, the rest qc; three at studio-a.
function rack(count: number): Named[] {
	return [...Array(count).keys()].map((i) => ({
		unit: `127.0.1.${i + 1}`,
		name: `u${i}`,
		labels: { site: i < 3 ? 'studio-a' : 'studio-b', role: i === 0 ? 'spare' : 'qc' },
	}))
}

function picks(text: string, units: Named[]): number[] | string {
	const parsed = parseSelector(text)
	if (!('selector' in parsed)) return parsed.fault
	const chosen = select(parsed.selector, units)
	return 'picked' in chosen ? chosen.picked : `${chosen.fault} ${chosen.text}`.trim()
}

describe('selectors', () => {
	test('pick by unit, name and labels, in the units order', () => {
		const units = rack(5)
		expect(picks('all', units)).toEqual([0, 1, 2, 3, 4])
		expect(picks('127.0.1.2', units)).toEqual([1])
		expect(picks('u4,127.0.1.1', units)).toEqual([0, 4])
		expect(picks('site=studio-a,role=qc', units)).toEqual([1, 2])
		expect(picks('role!=spare', units)).toEqual([1, 2, 3, 4])
		expect(picks('name=u3', units)).toEqual([3])
		expect(picks('floor!=2', units)).toEqual([0, 1, 2, 3, 4])
		// A unit without a name holds name!= and no name=; a value may hold '='.
		const plain = [
			{ unit: '127.0.1.9', name: null },
			{ unit: '127.0.1.8', labels: { key: 'a=b' } },
		]
		expect([picks('name!=u1', plain), picks('key=a=b', plain)]).toEqual([[0, 1], [1]])
	})

	test('a bad selector, an unknown unit and a selector that picks none are refused', () => {
		const units = rack(70)
		const faults = ['', 'u1,,u2', 'site=', '!=qc', 'u1,role=qc', 'role=qc,u1', 'u1,=x', ' all']
		expect(faults.map((text) => picks(text, units))).toEqual([
			'empty',
			'empty',
			'bad-term',
			'bad-term',
			'mixed',
			'mixed',
			'mixed',
			'unknown-unit  all',
		])
		expect(picks('site=studio-c', units)).toBe('no-match')
		expect(picks('u1,u99', units)).toBe('unknown-unit u99')
		expect((picks('role=qc', units) as number[]).length).toBe(69)
	})
})

test('a group lights when all, any or only some of its units hold, and never when it has none', () => {
	const cases = [[true, true], [true, false], [false, false], []]
	const answers = (match: string) => cases.map((holding) => groupHolds(match, holding))
	expect([answers('all'), answers('any'), answers('mixed')]).toEqual([
		[true, false, false, false],
		[true, true, false, false],
		[false, true, false, false],
	])
})
