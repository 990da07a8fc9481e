#include "catalogue/CatalogueState.h"

#include <algorithm>

namespace vantorel::catalogue {

bool CatalogueState::takeResults(std::vector<CatalogueRecord> records) {
    results_ = std::move(records);
    if (shown_ && std::find(results_.begin(), results_.end(), *shown_) == results_.end()) {
        shown_.reset();
        return false;
    }
    return true;
}

const CatalogueRecord* CatalogueState::show(int row) {
    if (!hasRow(row))
        return nullptr;
    shown_ = results_[static_cast<std::size_t>(row)];
    return &*shown_;
}

} // namespace vantorel::catalogue
