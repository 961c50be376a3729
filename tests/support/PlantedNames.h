#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// What a second member of the store's group can put under a name the
// library will open in log/, debug/ or data/: a link to a file outside, a
// hard link to it (a regular file, but with two names), a FIFO, a directory.
enum class Planted { SymbolicLink, HardLink, Fifo, Directory };

// A file outside the installation with known content and mode, that the
// planted names point at: afterwards it must be exactly as it was.
class PlantTarget
{
public:
    explicit PlantTarget(const QString &path);

    QString path() const { return m_path; }
    // The same content, size and mode as when it was made; else why not.
    QString changes() const;

private:
    QString m_path;
    QByteArray m_content;
    mode_t m_mode;
};

// Puts the kind of thing at name (pointing at target where it points);
// false when it could not.
bool plant(Planted kind, const QString &name, const PlantTarget &target);
const char *plantedName(Planted kind);
