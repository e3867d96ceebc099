// The project loader: any bytes as a project file (SQLite), opened and read
// whole into a snapshot.
#include "fuzzsupport.h"
#include "survey/projectsnapshot.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzzsupport::asFile(data, size, QStringLiteral("project.mdb"));
    QFile::setPermissions(path, QFile::ReadOwner); // read only: the loader never writes
    {
        ProjectDatabase project;
        if (project.open(path)) {
            if (auto snapshot = loadSnapshot(project)) {
                for (int e = 0; e < snapshot->epochCount(); ++e)
                    snapshot->daysSinceFirst(e);
            }
        }
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(path);
    return 0;
}
