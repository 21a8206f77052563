// Two property bags for hosts and tests: one in memory that records every write, and one kept
// as a plain text file (format: docs/persistence-and-ui.md).  Both keep every entry in order; a
// key written n times is read back value by value, the last one repeating, so the control's
// two "POSAutoOperation" entries load in the order saved.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "korvelcom/Export.h"
#include "korvelcom/platform/PropertyBag.h"

namespace korvel {

/// Converts `value` to the alternative that `like` holds (decimal text, "true"/"false", -1/0
/// for booleans as integers).  Throws `std::invalid_argument` for text that does not convert,
/// `std::out_of_range` for a number that does not fit.
KORVELCOM_API PropValue convertPropValue(const PropValue& value, const PropValue& like);

/// Text form of a value for people: the string as it is, the decimal number, true or false.
KORVELCOM_API std::string describePropValue(const PropValue& value);

/// A property bag in memory.  Every write is recorded (key, value, default, in order,
/// duplicates kept) for tests and hosts that want to see exactly what a control saved.
class KORVELCOM_API MemoryPropertyBag : public PropertyBag {
  public:
    struct Write {
        std::string key;
        PropValue value;
        PropValue defaultValue;
    };
    struct Entry {
        std::string key;
        PropValue value;
    };

    /// `keepDefaults` false makes the bag leave out a value equal to the default written with
    /// it (the write is still recorded in `writes()`), as some containers do; a later read of
    /// that key then returns the default the reader passes.
    explicit MemoryPropertyBag(bool keepDefaults = true) : keepDefaults_(keepDefaults) {}

    /// The next value of `key` (see the file comment), converted to the type of
    /// `defaultValue`; `defaultValue` when the key is absent.  Throws as `convertPropValue`
    /// when the stored value does not convert.
    PropValue read(const std::string& key, const PropValue& defaultValue) override;
    /// Records the write and stores the entry (unless it equals its default and defaults are
    /// not kept).  Never fails.
    void write(const std::string& key, const PropValue& value,
               const PropValue& defaultValue) override;

    /// Adds an entry as a container would have stored it, without recording a write (tests
    /// use it to hand a control values of any type, such as text under an integer key).
    void put(const std::string& key, const PropValue& value);
    /// Every write since construction or `clear()`, in order.
    const std::vector<Write>& writes() const { return writes_; }
    /// The stored entries, in the order they were written or put.
    const std::vector<Entry>& entries() const { return entries_; }
    /// Every key read, in order (duplicates kept), since construction or `clear()`.
    const std::vector<std::string>& reads() const { return reads_; }
    /// Starts reading every key from its first value again.
    void rewind() { cursors_.clear(); }
    /// Empties the bag: entries, recorded writes and reads.
    void clear();

  protected:
    std::vector<Entry>& mutableEntries() { return entries_; }

  private:
    bool keepDefaults_;
    std::vector<Entry> entries_;
    std::vector<Write> writes_;
    std::vector<std::string> reads_;
    std::map<std::string, std::size_t> cursors_;
};

/// A property bag kept as a plain text file, one `Key = value` a line: strings quoted with
/// \\, \" and \xHH escapes (every byte 0 to 255 kept), decimal integers, true or false, '#'
/// comments.  Every value is stored, defaults included.
class KORVELCOM_API TextPropertyBag : public MemoryPropertyBag {
  public:
    TextPropertyBag() = default;

    /// Replaces the entries with those of `text`.  Lines that cannot be understood are skipped
    /// and listed in `problems()` ("line N: reason").
    void parse(const std::string& text);
    /// The entries as file text, in order, with a heading comment.
    std::string text() const;
    /// Reads and parses the file at `path`.  False (entries left empty) when it cannot be read.
    bool load(const std::string& path);
    /// Writes `text()` to `path`, replacing the file.  False when it cannot be written.
    bool save(const std::string& path) const;
    /// The lines the last `parse` or `load` skipped.
    const std::vector<std::string>& problems() const { return problems_; }

    /// One value in the file's notation (a quoted, escaped string, a number, true or false).
    static std::string formatValue(const PropValue& value);

  private:
    std::vector<std::string> problems_;
};

}  // namespace korvel
