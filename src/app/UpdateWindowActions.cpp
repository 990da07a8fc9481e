#include "app/UpdateWindowActions.h"

#include "app/UpdateWindow.h"

namespace vantorel::app {

// Update flow: version check, share-link resolution, download, progress.
void UpdateWindowActions::onCreated() {}
void UpdateWindowActions::onConfirmClicked() {}
void UpdateWindowActions::onCloseClicked() {}

} // namespace vantorel::app
