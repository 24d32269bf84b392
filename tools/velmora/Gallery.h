#pragma once
// A gallery of enrolled people in a SQLite file: one multi-vector template per
// person, and the identity of the model that made the templates. Several
// velmora runs may use one gallery at once: every change is one transaction,
// and a run waits (up to a busy timeout) for another run's transaction to end.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ModelIdentity.h"
#include "TemplateFile.h"

struct sqlite3;

namespace velmora_cli {

struct GalleryPerson {
    std::string name;
    TemplateBuffer templ;  // all the person's vectors, in enrolment order
    int32_t vectors = 0;
    std::string updated;   // UTC time of the last enrolment, "YYYY-MM-DD HH:MM:SS"
};

struct EnrolResult {
    std::string name;
    int32_t added = 0;
    int32_t vectors = 0; // after the enrolment
    bool isNew = false;
};

class Gallery {
public:
    enum class Access { Read, Write, Create };

    // Opens (Create: or makes) the gallery file. Throws CliError: kExitInput when
    // the file is missing (Read, Write) or cannot be opened, kExitGallery when it
    // is damaged, not a gallery, or of a newer format.
    Gallery(const std::string& path, Access access, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~Gallery();
    Gallery(const Gallery&) = delete;
    Gallery& operator=(const Gallery&) = delete;

    static constexpr int kDefaultBusyTimeoutMs = 30000;
    // Marks a SQLite file as a velmora gallery (its application id).
    static constexpr int32_t kApplicationId = 0x564c4d47; // "VLMG"
    static constexpr int32_t kFormatVersion = 1;

    // The model the templates were made with; empty for a gallery never enrolled into.
    std::optional<ModelIdentity> Model() const;
    // Throws CliError (kExitGallery) when the gallery holds people enrolled with another model.
    void RequireModel(const ModelIdentity& model) const;

    // Adds the vectors of each template to the person of that name (a new person
    // when unknown), all in one transaction. The model must be the gallery's; a
    // gallery without people takes it.
    std::vector<EnrolResult> Enrol(const std::vector<std::pair<std::string, TemplateBuffer>>& entries,
                                   const ModelIdentity& model);

    // Every person, sorted by name; with templates when asked.
    std::vector<GalleryPerson> People(bool withTemplates) const;

    // Removes the named people in one transaction. When one of them is not
    // enrolled nothing is removed and CliError (kExitNotEnrolled) is thrown.
    void Remove(const std::vector<std::string>& names);

    const std::string& path() const { return m_path; }

private:
    class Statement;
    class Transaction;
    void Exec(const char* sql) const;
    [[noreturn]] void Fail(int code, const std::string& doing) const;
    void CheckFormat(bool mayCreate);
    std::optional<ModelIdentity> ReadModel() const;

    std::string m_path;
    sqlite3* m_db = nullptr;
};

} // namespace velmora_cli
