// Ends the run with the line the project's test command reads: 'N passed, N failed', printed
// as the process exits so that it comes after the default reporter's summary. Whatever did not
// pass counts as failed: a failed test, a test skipped without a skip mark (after a hook's
// error, say), an error outside the tests, and a run that vitest itself calls failed.
import type { Reporter, TestModule } from 'vitest/node'

// The parts of vitest's test modules that the count reads.
export interface CountedModule {
	errors(): ReadonlyArray<unknown>
	children: {
		allTests(): Iterable<{ options: { mode: string }; result(): { state: string } }>
		allSuites(): Iterable<{ errors(): ReadonlyArray<unknown> }>
	}
}

export interface Counts {
	passed: number
	failed: number
	unmarkedSkips: number
	errors: number
}

export function countRun(
	modules: ReadonlyArray<CountedModule>,
	unhandledErrors: ReadonlyArray<unknown>,
	reason: string,
): Counts {
	const counts: Counts = { passed: 0, failed: 0, unmarkedSkips: 0, errors: unhandledErrors.length }
	for (const module of modules) {
		counts.errors += module.errors().length
		for (const suite of module.children.allSuites()) counts.errors += suite.errors().length
		for (const test of module.children.allTests()) {
			const state = test.result().state
			const marked = test.options.mode === 'skip' || test.options.mode === 'todo'
			if (state === 'passed') counts.passed++
			else if (state === 'skipped' && marked) continue
			else if (state === 'skipped') counts.unmarkedSkips++
			else counts.failed++ // failed, or never finished
		}
	}
	counts.failed += counts.unmarkedSkips + counts.errors
	if (reason !== 'passed' && counts.failed === 0) counts.failed = 1
	return counts
}

export function summaryLine(counts: Counts): string {
	const why = []
	if (counts.unmarkedSkips) why.push(`${counts.unmarkedSkips} skipped without a skip mark`)
	if (counts.errors) why.push(`${counts.errors} errors outside the tests`)
	const detail = why.length ? ` (${why.join(', ')})` : ''
	return `companion: ${counts.passed} passed, ${counts.failed} failed${detail}`
}

export default class SummaryReporter implements Reporter {
	onTestRunEnd(modules: ReadonlyArray<TestModule>, unhandledErrors: ReadonlyArray<unknown>, reason: string): void {
		const line = summaryLine(countRun(modules, unhandledErrors, reason))
		process.once('exit', () => console.log(line))
	}
}
