#pragma once

#include <QString>

#include <stdexcept>

namespace melofon::store {

// What the table store throws. The message is Spanish and meant for the user: it names
// the file or the text concerned and says why.
class StoreError : public std::runtime_error {
public:
    enum class Kind {
        CannotOpen,       // the file or directory could not be opened or read
        NotDbase,         // not a dBASE III table at all
        Damaged,          // looks like dBASE but its header contradicts itself
        UnknownCodePage,  // the .cpg file names a code page we cannot convert
        AlreadyOpen,      // another Melofon holds the tables' directory
        TooLong,          // a text does not fit its field
        NotRepresentable, // a text has characters the table's code page lacks
        BadValue,         // a number does not fit its field, or a field name is unknown
        WriteFailed,      // the operating system refused a write
        ReadOnly,         // the tables' folder cannot be written, so nothing may change
        NoCurrentRow,     // a field read or a delete without a current row
        NotEditing,       // a field write or Update without AddNew
        UnusableJournal,  // an interrupted command's journal that cannot be completed
    };

    StoreError(Kind kind, const QString& message)
        : std::runtime_error(message.toStdString()), kind_(kind), message_(message) {}

    Kind kind() const { return kind_; }
    const QString& message() const { return message_; }

private:
    Kind kind_;
    QString message_;
};

} // namespace melofon::store
