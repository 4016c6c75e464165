// Ends the run with the line the project's test command reads: 'N passed, N failed', printed
// as the process exits so that it comes after the default reporter's summary.
import type { Reporter, TestModule } from 'vitest/node'

export default class SummaryReporter implements Reporter {
	onTestRunEnd(modules: ReadonlyArray<TestModule>): void {
		let passed = 0
		let failed = 0
		for (const module of modules) {
			for (const test of module.children.allTests()) {
				const state = test.result().state
				if (state === 'passed') passed++
				else if (state === 'failed') failed++
			}
			// A file that failed to load has no tests to count.
			if (module.state() === 'failed' && !module.children.size) failed++
		}
		process.once('exit', () => console.log(`companion: ${passed} passed, ${failed} failed`))
	}
}
