import { defineConfig } from 'vitest/config'

export default defineConfig({
	test: {
		include: ['test/**/*.test.ts'],
		testTimeout: 20000,
		hookTimeout: 20000,
		fileParallelism: false,
		// A .only left in a file would skip the rest as if they were marked to skip.
		allowOnly: false,
		reporters: ['default', './test/summary_reporter.ts'],
	},
})
