/**
 * Reads Server-Sent Events from a byte stream until it ends; calls onEvent(name, data), and
 * onBytes whenever anything comes, comments included.
 */
export async function readEvents(
	body: ReadableStream<Uint8Array>,
	onEvent: (name: string, data: string) => void,
	onBytes: () => void = () => undefined,
): Promise<void> {
	const reader = body.pipeThrough(new TextDecoderStream()).getReader()
	let buffer = ''
	let name = 'message'
	let data: string[] = []
	for (;;) {
		const { value, done } = await reader.read()
		if (done) return
		onBytes()
		buffer += value
		let end: number
		while ((end = buffer.indexOf('\n')) >= 0) {
			const line = buffer.slice(0, end).replace(/\r$/, '')
			buffer = buffer.slice(end + 1)
			if (line === '') {
				if (data.length) onEvent(name, data.join('\n'))
				name = 'message'
				data = []
				continue
			}
			if (line.startsWith(':')) continue
			const colon = line.indexOf(':')
			const field = colon < 0 ? line : line.slice(0, colon)
			const text = colon < 0 ? '' : line.slice(colon + 1).replace(/^ /, '')
			if (field === 'event') name = text
			else if (field === 'data') data.push(text)
		}
	}
}
