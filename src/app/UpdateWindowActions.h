#pragma once
// What the update window's bound events do. One method per bound event.

#include "app/WindowEvents.h"

namespace vantorel::app {

class UpdateWindowActions : public UpdateWindowEvents {
  public:
    explicit UpdateWindowActions(UpdateWindow& window) : window_(window) {}

    void onCreated() override;
    void onConfirmClicked() override;
    void onCloseClicked() override;

  private:
    UpdateWindow& window_;
};

} // namespace vantorel::app
