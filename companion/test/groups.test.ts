// Group actions, group feedbacks, snapshot recall and the label pages of presets, against the
// fake gateway: what the module sends, and how it shows what comes back.
import { afterAll, beforeAll, describe, expect, test } from 'vitest'
import { LIT, PART } from '../src/feedbacks.js'
import { realClock } from '../src/host.js'
import { Rack } from '../src/rack.js'
import { FakeGateway } from './fake_gateway.js'
import { FakeHost } from './fake_host.js'
import { waitFor } from './wait.js'

const fake = new FakeGateway()
const host = new FakeHost()
const rack = new Rack(host, realClock, { snapshotsEveryMs: 50 })

function unit(id: string, name: string, labels: Record<string, string>) {
	return { unit: id, name, labels, link: 'up', reason: '', stale: false, soloLeft: 0, levels: [0] }
}
const QC1 = unit('127.0.0.2', 'qc-1', { site: 'studio-a', role: 'qc' })
const QC2 = unit('127.0.0.3', 'qc-2', { site: 'studio-a', role: 'qc' })
const SPARE = unit('127.0.0.4', 'spare', { site: 'studio-b', role: 'spare' })

beforeAll(async () => {
	fake.meta = {
		buttons: [
			{ name: 'mute', label: 'Mute', kind: 'other' },
			{ name: 'solo-left', label: 'Solo Left', kind: 'lamp' },
		],
		levels: [{ name: 'volume', label: 'Volume', highest: 40 }],
		inputs: [],
		meterModes: [],
		lamps: [{ field: 'soloLeft', label: 'Solo Left', button: 'solo-left' }],
	}
	fake.units = [QC1, QC2, SPARE]
	fake.snapshots = ['morning']
	await fake.start()
	await rack.configure({ url: fake.base.href, confirmUpTo: 2 }, undefined)
	await waitFor('connected', () => host.status?.status === 'ok' && fake.stream !== null)
})

afterAll(async () => {
	await rack.stop()
	await fake.stop()
})

const done = (id: string) => ({ unit: id, done: true, status: 200, outcome: 'done', before: null, after: null })

describe('group actions', () => {
	test("one request goes to the group route; the count is confirmed only up to the settings' limit", async () => {
		fake.answers.push({ status: 200, body: { group: 'group-1', units: [done(QC1.unit), done(QC2.unit)] } })
		await host.runAction('press', { target: 'group', select: 'site=studio-a', stopOnFailure: false, button: 'mute' })
		expect(fake.commands.at(-1)).toEqual({
			path: '/api/groups/press/mute',
			body: { select: 'site=studio-a', stopOnFailure: false, confirm: 2 },
		})

		// Three units, past the settings' two: the gateway's refusal is the action's failure.
		const refused = 'group all: Volume to 12 failed: the selector matches 3 units; confirm 3 to act on them'
		fake.answers.push({ status: 400, body: { error: 'the selector matches 3 units; confirm 3 to act on them' } })
		const options = { target: 'group', select: 'all', stopOnFailure: true, level: 'volume', value_volume: 12 }
		await expect(host.runAction('level_set', options)).rejects.toThrow(refused)
		expect(fake.commands.at(-1)).toEqual({
			path: '/api/groups/level/volume',
			body: { value: 12, select: 'all', stopOnFailure: true },
		})
		expect([host.logs.at(-1), host.values.last_outcome]).toEqual([{ level: 'error', message: refused }, refused])
	})

	test("each unit's outcome is told naming it: one skipped fails the action, one still running follows", async () => {
		const running = { unit: QC2.unit, done: false, status: 504, outcome: 'timed_out', command: '41', error: 'slow' }
		const skipped = { unit: SPARE.unit, done: false, status: null, outcome: 'skipped', error: 'not sent' }
		fake.answers.push({ status: 200, body: { group: 'group-2', units: [done(QC1.unit), running, skipped] } })
		const logged = host.logs.length
		await expect(
			host.runAction('press', { target: 'group', select: 'all', stopOnFailure: true, button: 'mute' }),
		).rejects.toThrow(new RegExp(`^${SPARE.unit}: Mute failed: not sent$`))
		fake.send('outcome', { command: '41', status: 200, reply: { done: true } })
		await waitFor('the outcome followed', () => host.logs.length === logged + 3)
		expect(host.logs.slice(logged)).toEqual([
			{ level: 'warn', message: `${QC2.unit}: Mute is still running on the unit; its outcome follows` },
			{ level: 'error', message: `${SPARE.unit}: Mute failed: not sent` },
			{ level: 'info', message: `${QC2.unit}: Mute done` },
		])
	})

	test("the snapshots are offered as they change; a recall applies one on a group, telling each unit's refusal or failed step", async () => {
		const offered = () => {
			const field = host.actions.snapshot_recall!.options.find((option) => option.id === 'snapshot')
			return (field as { choices: { id: string }[] }).choices.map((choice) => choice.id)
		}
		expect(offered()).toEqual(['morning'])
		fake.snapshots = ['morning', 'late show']
		await waitFor('the new snapshot offered', () => offered().includes('late show'))

		const units = [
			{ unit: QC1.unit, name: 'qc-1', refusal: null, steps: [{ setting: 'volume', state: 'done' }] },
			{ unit: QC2.unit, name: 'qc-2', refusal: { reason: 'out of range', setting: 'volume', why: '0 to 40' } },
			{
				unit: SPARE.unit,
				name: 'spare',
				refusal: null,
				steps: [
					{ setting: 'volume', state: 'failed', why: 'no reply from the unit' },
					{ setting: 'input', state: 'skipped' },
				],
			},
		]
		fake.answers.push({ status: 200, body: { group: 'group-3', units } })
		const options = { snapshot: 'late show', select: 'role=qc', stopOnFailure: false, network: true }
		await expect(host.runAction('snapshot_recall', options)).rejects.toThrow(
			`${QC2.unit}: Recall late show failed: out of range: volume: 0 to 40; ` +
				`${SPARE.unit}: Recall late show failed: volume failed: no reply from the unit; input skipped`,
		)
		expect(fake.commands.at(-1)).toEqual({
			path: '/api/snapshots/late%20show/apply',
			body: { network: true, select: 'role=qc', stopOnFailure: false, confirm: 2 },
		})
	})
})

describe('group feedbacks', () => {
	const lamp = (match: string, select = 'site=studio-a') =>
		host.feedback('lamp', { target: 'group', select, match, lamp: 'soloLeft' })
	const matches = async (select?: string) => [
		await lamp('all', select),
		await lamp('any', select),
		await lamp('mixed', select),
	]

	test("a group's lamp is lit when all, any or some of its units have it, a unit not up having none", async () => {
		expect(await matches()).toEqual([false, false, false])
		fake.send('unit', { ...QC1, soloLeft: 1 })
		await waitFor('one lit', async () => (await lamp('any')) === true)
		expect(await matches()).toEqual([false, true, true])
		fake.send('unit', { ...QC2, soloLeft: 1 })
		await waitFor('both lit', async () => (await lamp('all')) === true)
		expect(await matches()).toEqual([true, true, false])
		// The spare, lit too but of another site, changes nothing; a unit down is not lit.
		fake.send('unit', { ...SPARE, soloLeft: 1 })
		fake.send('unit', { ...QC2, soloLeft: 1, link: 'down', stale: true })
		await waitFor('one down', async () => (await lamp('all')) === false)
		expect(await matches()).toEqual([false, true, true])
		const up = (match: string) => host.feedback('unit_up', { target: 'group', select: 'role=qc', match })
		expect([await up('all'), await up('mixed')]).toEqual([false, true])
		expect(await host.feedback('lamp', { unit: QC1.unit, lamp: 'soloLeft' })).toBe(true)
		// A selector the gateway would refuse lights nothing.
		for (const select of ['site=', 'site=studio-z', 'qc-1,nowhere']) {
			expect(await matches(select)).toEqual([false, false, false])
		}
	})
})

describe('presets', () => {
	const preset = (name: string) => Object.values(host.presets).find((entry) => entry?.name === name)
	const categories = () => [...new Set(Object.values(host.presets).map((entry) => entry!.category))]

	test('a page per label value acts on its group, lit as its units are; a unit relabelled or new changes them', async () => {
		expect(categories()).toEqual([
			'All units',
			'Group role=qc',
			'Group role=spare',
			'Group site=studio-a',
			'Group site=studio-b',
			...[QC1, QC2, SPARE].map((entry) => `Unit ${entry.unit}`),
		])
		const soloLeft = preset('site=studio-a Solo Left')
		const shown = { target: 'group', select: 'site=studio-a', lamp: 'soloLeft' }
		expect(soloLeft).toMatchObject({
			feedbacks: [
				{ feedbackId: 'lamp', options: { ...shown, match: 'all' }, style: LIT },
				{ feedbackId: 'lamp', options: { ...shown, match: 'mixed' }, style: PART },
			],
		})
		const [press] = (soloLeft as { steps: { down: { actionId: string; options: object }[] }[] }).steps[0].down
		fake.answers.push({ status: 200, body: { group: 'group-4', units: [done(QC1.unit), done(QC2.unit)] } })
		await host.runAction(press.actionId, press.options as never)
		expect(fake.commands.at(-1)).toMatchObject({
			path: '/api/groups/press/solo-left',
			body: { select: 'site=studio-a' },
		})

		const up = (select: string) => host.feedback('unit_up', { target: 'group', select, match: 'all' })
		expect([await up('site=studio-b'), await up('site=studio-c')]).toEqual([true, false])
		fake.send('unit', { ...SPARE, labels: { site: 'studio-c', role: 'spare' } })
		fake.send('unit', unit('127.0.0.5', 'qc-3', { site: 'studio-a', role: 'qc' }))
		await waitFor('the new unit paged', () => categories().includes('Unit 127.0.0.5'))
		expect(categories()).toContain('Group site=studio-c')
		expect(categories()).not.toContain('Group site=studio-b')
		expect(rack.units()).toEqual([QC1, QC2, SPARE].map((entry) => entry.unit).concat('127.0.0.5'))
		expect([await up('site=studio-b'), await up('site=studio-c')]).toEqual([false, true])
	})
})
