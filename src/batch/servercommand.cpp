// sedimetra-batch server: projects on a PostgreSQL server, made, moved and
// shared.
#include "batch/commandline.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "project/serverstore.h"

#include <cstdio>

int serverCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral(
        "server init URL | push FILE.mdb URL [--replace] | pull URL FILE.mdb\n"
        "       | grant URL USER read|write|none | members URL"));
    line.flag(QStringLiteral("replace"), QStringLiteral("push over a project of that name"));
    if (const auto done = line.parse(args, 1, 4))
        return *done;
    const QStringList words = line.positional();
    const bool replace = line.isSet(QStringLiteral("replace"));
    const QString programDir = ::programDir();
    const auto say = [](const Result<QString> &done) {
        if (!done)
            return failure(done.error());
        std::printf("%s\n", qPrintable(*done));
        return 0;
    };
    const QString verb = words.front();
    if (replace && verb != QLatin1String("push"))
        return line.wrong(QStringLiteral("--replace goes with push"));
    if (words.size() == 2 && verb == QLatin1String("init")) {
        const auto address = parseServerUrl(words[1]);
        if (!address)
            return line.wrong(address.error());
        return say(initialiseServer(*address, projectTemplatePath(programDir)));
    }
    if (words.size() == 3 && verb == QLatin1String("push")) {
        const auto address = parseServerUrl(words[2]);
        if (!address)
            return line.wrong(address.error());
        const auto pushed = pushProject(words[1], *address, replace);
        if (!pushed)
            return failure(pushed.error());
        if (!pushed->checked) {
            std::fprintf(stderr, "sedimetra-batch: %s\n", qPrintable(pushed->message));
            return 3;
        }
        std::printf("%s\n", qPrintable(pushed->message));
        return 0;
    }
    if (words.size() == 4 && verb == QLatin1String("grant")) {
        const auto address = parseServerUrl(words[1]);
        if (!address)
            return line.wrong(address.error());
        if (!QStringList{QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("none")}
                 .contains(words[3]))
            return line.wrong(QStringLiteral("server grant takes read, write or none"));
        return say(grantProject(*address, words[2], words[3]));
    }
    if (words.size() == 2 && verb == QLatin1String("members")) {
        const auto address = parseServerUrl(words[1]);
        if (!address)
            return line.wrong(address.error());
        const auto members = projectMembers(*address);
        if (!members)
            return failure(members.error());
        for (const ProjectMember &m : *members)
            std::printf("%s\t%s\n", qPrintable(m.member), m.canWrite ? "write" : "read");
        if (members->empty())
            std::printf("%s\n", qPrintable(QStringLiteral("（没有成员；sedimetra_read 读、"
                                                          "sedimetra_admin 管理全部工程）")));
        return 0;
    }
    if (words.size() == 3 && verb == QLatin1String("pull")) {
        const auto address = parseServerUrl(words[1]);
        if (!address)
            return line.wrong(address.error());
        // Never over a file of the program.
        if (auto allowed = programFiles(programDir, QString()).checkOutput(words[2], true); !allowed)
            return failure(allowed.error());
        return say(pullProject(*address, projectTemplatePath(programDir), words[2]));
    }
    return line.wrong(QStringLiteral("server takes init URL, push FILE URL [--replace], pull URL "
                                     "FILE, grant URL USER read|write|none or members URL"));
}
