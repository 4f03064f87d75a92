#include "app/shell/Automation.h"

#include "app/presets/CurveStore.h"
#include "app/presets/PresetStore.h"
#include "app/shell/SingleInstance.h"

namespace zephro {

Automation::Automation(SingleInstance& instance, Parts parts, FanIntentsOptions options)
    : instance_(instance),
      intents_(std::move(parts.application), parts.client, parts.defaults, parts.localization,
               options),
      service_(intents_, parts.defaults),
      adaptor_(std::make_unique<IntentsAdaptor>(instance, service_, parts.updates,
                                                parts.localization, instance.bus())),
      actions_(service_, parts.updates, parts.quit) {
  QObject::connect(&parts.presets, &PresetStore::entitiesChanged, &service_,
                   &IntentsService::updateAppShortcutParameters);
  QObject::connect(&parts.curves, &CurveStore::entitiesChanged, &service_,
                   &IntentsService::updateAppShortcutParameters);
  instance_.setActionHandler(
      [this](QString name, QVariantList parameter) {
        return actions_.activate(std::move(name), std::move(parameter));
      },
      parts.localization);
}

Automation::~Automation() {
  instance_.setActionHandler({}, intents_.localization());
}

}  // namespace zephro
