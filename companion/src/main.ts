import { InstanceBase, runEntrypoint, type SomeCompanionConfigField } from '@companion-module/base'
import { configFields, type Config, type Secrets } from './config.js'
import { Rack } from './rack.js'
import { upgradeScripts } from './upgrades.js'

/** The Companion connection: Companion's calls handed to the rack. */
class VantrelInstance extends InstanceBase<Config, Secrets> {
	readonly #rack = new Rack(this)

	async init(config: Config, _isFirstInit: boolean, secrets: Secrets): Promise<void> {
		await this.#rack.configure(config, secrets)
	}

	async configUpdated(config: Config, secrets: Secrets): Promise<void> {
		await this.#rack.configure(config, secrets)
	}

	async destroy(): Promise<void> {
		await this.#rack.stop()
	}

	getConfigFields(): SomeCompanionConfigField[] {
		return configFields()
	}
}

runEntrypoint(VantrelInstance, upgradeScripts)
