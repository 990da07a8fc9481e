#pragma once
// The addresses one download fetches its file from, and what became of each.
//
// A source is an address as it was given (a catalogue's address, a share link, one the user
// typed), the name it is shown by, the direct address it led to, and that server's validators.
// A source takes part only once it is proven to serve the download's file (the first source that
// answers defines the file; every other one must prove it, see ProofBlocks.h). Connections spread
// over the proven sources, each worker staying with one source while the set of proven sources
// does not change, so its connection is kept, unless that connection turns out far slower than the
// download's others: then the worker moves on to the next source (a mirror that trickles keeps no
// worker for long). The bytes follow the speeds through the scheduler's work stealing. A source
// that fails, lies or is gone is dropped and its workers move to the others; a share link whose
// signed address expired is refreshed by one worker while the others go on elsewhere or wait.
//
// Thread safety: one mutex guards everything; every member takes it.

#include "download/ResumeState.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::download {

struct SourceSpec {
    std::string address;      // as given: a share link, a catalogue's or a typed address
    std::string label;        // how the user knows it ("下载链接2"); the address when empty
    std::string url;          // the direct address it leads to; empty: not resolved yet
    bool refreshable = false; // a share link: resolving it again gives a fresh address
};

enum class SourceState {
    Untried,    // not yet asked
    Proven,     // serves the download's file
    Refreshing, // its address expired and is being resolved again
    Dropped,    // serves something else, failed, or is gone
};

// What a worker needs of a source for one request.
struct SourceUse {
    std::size_t id = 0;
    std::string url;
    Validators validators;
};

class Sources {
  public:
    explicit Sources(std::vector<SourceSpec> specs);

    // A source more, untried; its id.
    std::size_t add(SourceSpec spec);
    std::size_t size() const;
    SourceSpec spec(std::size_t id) const;
    SourceState state(std::size_t id) const;
    // The label, or the address without credentials when it has none.
    std::string name(std::size_t id) const;

    // The source serves the download's file at `url` (after redirects) with `validators`.
    void prove(std::size_t id, std::string url, Validators validators);
    // The source is out of the download for good.
    void drop(std::size_t id);

    // The source a worker's next request goes to: the proven sources are shared out by worker
    // index. None while no source is proven (one may be being refreshed).
    std::optional<SourceUse> pick(unsigned worker) const;
    // A proven source other than `id`, if any.
    std::optional<SourceUse> otherThan(std::size_t id) const;
    std::size_t provenCount() const;
    bool refreshing() const;
    // Ids of the sources not yet asked, in order.
    std::vector<std::size_t> untried() const;

    // A request of `id` failed without a byte: the failures in a row of the whole source. A
    // source that another proven source can stand in for is dropped after a few (a server that
    // is down costs each of its workers only one attempt, not a round of retries).
    unsigned failed(std::size_t id);
    void brought(std::size_t id);

    // A share link's address expired: true for the one caller who is to resolve it again (the
    // source is Refreshing until prove() or drop()); false when it is not refreshable, is
    // being refreshed already, or has used up its tries.
    // prove() ends it with the fresh address.
    bool beginRefresh(std::size_t id);

    // Every source as a resume state records it (addresses without credentials).
    std::vector<SourceRecord> records() const;
    // The validators the source's server gave when it was proven (none before).
    Validators validators(std::size_t id) const;

  private:
    struct Entry {
        SourceSpec spec;
        SourceState state = SourceState::Untried;
        Validators validators;
        unsigned failures = 0;  // requests failed in a row
        unsigned refreshes = 0; // resolved again since it last brought a byte
    };
    std::string nameOf(const Entry& entry) const;
    // With the lock held: proven sources, and the `nth` of them (skipping `except`).
    std::size_t provenLocked() const;
    std::optional<SourceUse> useOf(std::size_t nth, std::optional<std::size_t> except) const;

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace vantorel::download
