import type { CompanionStaticUpgradeScript } from '@companion-module/base'
import { valueId } from './actions.js'
import type { Config, Secrets } from './config.js'

/**
 * Buttons made before each level had a value field of its own keep the value they set: it moves
 * from `value` to the field of the level the action names.
 */
const levelValuePerLevel: CompanionStaticUpgradeScript<Config, Secrets> = (_context, props) => ({
	updatedConfig: null,
	updatedActions: props.actions
		.filter((action) => action.actionId === 'level_set' && 'value' in action.options)
		.map((action) => {
			const { value, ...options } = action.options
			action.options = { ...options, [valueId(String(options.level))]: value }
			return action
		}),
	updatedFeedbacks: [],
})

export const upgradeScripts = [levelValuePerLevel]
