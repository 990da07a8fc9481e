#include "download/Sources.h"

#include <algorithm>
#include <utility>

namespace vantorel::download {
namespace {

// A share link resolved this often in a row without a byte from its address is given up.
constexpr unsigned kMaxRefreshes = 3;

} // namespace

Sources::Sources(std::vector<SourceSpec> specs) {
    for (SourceSpec& spec : specs)
        entries_.emplace_back().spec = std::move(spec);
}

std::size_t Sources::add(SourceSpec spec) {
    std::lock_guard lock(mutex_);
    entries_.emplace_back().spec = std::move(spec);
    return entries_.size() - 1;
}

std::size_t Sources::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

SourceSpec Sources::spec(std::size_t id) const {
    std::lock_guard lock(mutex_);
    return entries_.at(id).spec;
}

SourceState Sources::state(std::size_t id) const {
    std::lock_guard lock(mutex_);
    return entries_.at(id).state;
}

std::string Sources::nameOf(const Entry& entry) const {
    return entry.spec.label.empty() ? withoutCredentials(entry.spec.address) : entry.spec.label;
}

std::string Sources::name(std::size_t id) const {
    std::lock_guard lock(mutex_);
    return nameOf(entries_.at(id));
}

void Sources::prove(std::size_t id, std::string url, Validators validators) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_.at(id);
    entry.spec.url = std::move(url);
    entry.validators = std::move(validators);
    entry.state = SourceState::Proven;
    entry.failures = 0;
}

void Sources::drop(std::size_t id) {
    std::lock_guard lock(mutex_);
    entries_.at(id).state = SourceState::Dropped;
}

std::size_t Sources::provenLocked() const {
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(),
                      [](const Entry& e) { return e.state == SourceState::Proven; }));
}

std::optional<SourceUse> Sources::useOf(std::size_t nth, std::optional<std::size_t> except) const {
    for (std::size_t id = 0; id < entries_.size(); ++id) {
        const Entry& entry = entries_[id];
        if (entry.state != SourceState::Proven || id == except)
            continue;
        if (nth-- == 0)
            return SourceUse{id, entry.spec.url, entry.validators};
    }
    return std::nullopt;
}

std::optional<SourceUse> Sources::pick(unsigned worker) const {
    std::lock_guard lock(mutex_);
    const std::size_t proven = provenLocked();
    if (proven == 0)
        return std::nullopt;
    return useOf(worker % proven, std::nullopt);
}

std::optional<SourceUse> Sources::otherThan(std::size_t id) const {
    std::lock_guard lock(mutex_);
    return useOf(0, id);
}

std::size_t Sources::provenCount() const {
    std::lock_guard lock(mutex_);
    return provenLocked();
}

bool Sources::refreshing() const {
    std::lock_guard lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& e) { return e.state == SourceState::Refreshing; });
}

std::vector<std::size_t> Sources::untried() const {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> ids;
    for (std::size_t id = 0; id < entries_.size(); ++id)
        if (entries_[id].state == SourceState::Untried)
            ids.push_back(id);
    return ids;
}

unsigned Sources::failed(std::size_t id) {
    std::lock_guard lock(mutex_);
    return ++entries_.at(id).failures;
}

void Sources::brought(std::size_t id) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_.at(id);
    entry.failures = 0;
    entry.refreshes = 0;
}

bool Sources::beginRefresh(std::size_t id) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_.at(id);
    if (!entry.spec.refreshable || entry.state != SourceState::Proven ||
        entry.refreshes >= kMaxRefreshes)
        return false;
    ++entry.refreshes;
    entry.state = SourceState::Refreshing;
    return true;
}

Validators Sources::validators(std::size_t id) const {
    std::lock_guard lock(mutex_);
    return entries_.at(id).validators;
}

std::vector<SourceRecord> Sources::records() const {
    std::lock_guard lock(mutex_);
    std::vector<SourceRecord> records;
    for (const Entry& entry : entries_)
        if (entry.state == SourceState::Proven || entry.state == SourceState::Refreshing)
            records.push_back({withoutCredentials(entry.spec.address),
                               withoutCredentials(entry.spec.url), entry.validators});
    return records;
}

} // namespace vantorel::download
