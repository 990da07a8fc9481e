#pragma once
// What the catalogue part of the windows shows, kept apart from any window: the last search's
// results and the entry shown in the details. The details, 下载 and the menu act on the shown
// entry, so it stays only while the latest search still lists it.

#include "catalogue/CatalogueRecord.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace vantorel::catalogue {

class CatalogueState {
  public:
    // Takes a search's results. False when an entry was shown and they no longer list it: it
    // is then shown no more.
    bool takeResults(std::vector<CatalogueRecord> records);
    // Shows the entry at `row` of the results; null (and nothing changes) when there is none.
    const CatalogueRecord* show(int row);
    void clearShown() { shown_.reset(); }

    const std::vector<CatalogueRecord>& results() const { return results_; }
    const std::optional<CatalogueRecord>& shown() const { return shown_; }
    bool hasRow(int row) const {
        return row >= 0 && static_cast<std::size_t>(row) < results_.size();
    }

  private:
    std::vector<CatalogueRecord> results_;
    std::optional<CatalogueRecord> shown_;
};

} // namespace vantorel::catalogue
