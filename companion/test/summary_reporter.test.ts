// The closing line that the test command reads: nothing that did not pass may count as passed.
import { describe, expect, test } from 'vitest'
import { countRun, summaryLine, type CountedModule } from './summary_reporter.js'

type Test = [mode: string, state: string]

function module(tests: Test[], suiteErrors: number[] = [], moduleErrors = 0): CountedModule {
	return {
		errors: () => Array(moduleErrors).fill('error'),
		children: {
			allTests: () => tests.map(([mode, state]) => ({ options: { mode }, result: () => ({ state }) })),
			allSuites: () => suiteErrors.map((count) => ({ errors: () => Array(count).fill('error') })),
		},
	}
}

describe('the summary line', () => {
	test('tests skipped after their hooks failed, and the hooks, count as failed', () => {
		// Three suites whose beforeAll failed (no simulated unit), their nine tests skipped.
		const passed: Test[] = Array(11).fill(['run', 'passed'])
		const skipped: Test[] = Array(9).fill(['run', 'skipped'])
		const counts = countRun([module([...passed, ...skipped], [1, 1, 1, 0])], [], 'failed')
		expect(summaryLine(counts)).toBe(
			'companion: 11 passed, 12 failed (9 skipped without a skip mark, 3 errors outside the tests)',
		)
	})

	test('a test marked skip or todo is not a failure; failed and unfinished tests are', () => {
		const tests: Test[] = [
			['run', 'passed'],
			['skip', 'skipped'],
			['todo', 'skipped'],
			['run', 'failed'],
			['run', 'pending'],
		]
		expect(summaryLine(countRun([module(tests)], [], 'failed'))).toBe('companion: 1 passed, 2 failed')
		expect(summaryLine(countRun([module([['skip', 'skipped']])], [], 'passed'))).toBe(
			'companion: 0 passed, 0 failed',
		)
	})

	test("a file that did not load, an unhandled error or vitest's own verdict fails the run", () => {
		expect(countRun([module([], [], 1)], [], 'failed').failed).toBe(1)
		expect(countRun([module([['run', 'passed']])], ['rejection'], 'failed').failed).toBe(1)
		expect(countRun([module([['run', 'passed']])], [], 'interrupted')).toEqual({
			passed: 1,
			failed: 1,
			unmarkedSkips: 0,
			errors: 0,
		})
	})
})
