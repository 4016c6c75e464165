/** Waits until `check` holds, looking every 25 ms; fails naming what was awaited. Returns the ms it took. */
export async function waitFor(what: string, check: () => boolean | Promise<boolean>, ms = 5000): Promise<number> {
	const start = Date.now()
	while (!(await check())) {
		if (Date.now() - start > ms) throw new Error(`not within ${ms} ms: ${what}`)
		await new Promise((resolve) => setTimeout(resolve, 25))
	}
	return Date.now() - start
}
