import { defineConfig } from 'vitest/config'

export default defineConfig({
	test: {
		include: ['test/**/*.test.ts'],
		testTimeout: 20000,
		hookTimeout: 20000,
		fileParallelism: false,
		reporters: ['default', './test/summary_reporter.ts'],
	},
})
