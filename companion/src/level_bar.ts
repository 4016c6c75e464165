/** A level drawn as a bar along the bottom of a button: RGBA pixels and where they go. */
export interface LevelBar {
	imageBuffer: string // base64 RGBA
	imageBufferEncoding: { pixelFormat: 'RGBA' }
	imageBufferPosition: { x: number; y: number; width: number; height: number }
}

const FILLED = [0x2e, 0xcc, 0x40, 0xff]
const EMPTY = [0x30, 0x30, 0x30, 0xff]

/** The bar for `value` of 0..highest on a button `width` x `height`; a tenth of it high. */
export function levelBar(value: number, highest: number, width: number, height: number): LevelBar {
	const barHeight = Math.max(4, Math.round(height / 10))
	const filled = highest > 0 ? Math.round((width * Math.min(Math.max(value, 0), highest)) / highest) : 0
	const pixels = new Uint8Array(width * barHeight * 4)
	for (let y = 0; y < barHeight; ++y) {
		for (let x = 0; x < width; ++x) pixels.set(x < filled ? FILLED : EMPTY, (y * width + x) * 4)
	}
	return {
		imageBuffer: Buffer.from(pixels).toString('base64'),
		imageBufferEncoding: { pixelFormat: 'RGBA' },
		imageBufferPosition: { x: 0, y: height - barHeight, width, height: barHeight },
	}
}
