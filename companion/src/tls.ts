import { readFileSync } from 'node:fs'
import type { TLSSocket } from 'node:tls'
import { Agent, buildConnector } from 'undici'
import type { Settings } from './config.js'

/**
 * The connections to an https:// gateway whose certificate the system does not trust: signed
 * by the CA file given, or pinned by its fingerprint (then a self-signed one will do), or both.
 * Undefined when neither is given; why not, when the CA file cannot be read.
 */
export function agentFor(settings: Settings): Agent | undefined | string {
	const { ca: caFile, fingerprint } = settings
	if (!caFile && !fingerprint) return undefined
	let ca: string | undefined
	try {
		ca = caFile ? readFileSync(caFile, 'utf8') : undefined
	} catch (error) {
		return `the CA file cannot be read: ${(error as NodeJS.ErrnoException).code ?? String(error)}`
	}
	// A resumed session shows no certificate to check, so none is resumed.
	const open = buildConnector({ ca, rejectUnauthorized: ca !== undefined, maxCachedSessions: 0 })
	return new Agent({
		connect: (options, callback) =>
			open(options, (error, socket) => {
				if (error || !fingerprint) return error ? callback(error, null) : callback(null, socket)
				if ((socket as TLSSocket).getPeerCertificate().fingerprint256 === fingerprint) return callback(null, socket)
				socket.destroy()
				callback(new Error("the gateway's certificate is not the one of the fingerprint given"), null)
			}),
	})
}
