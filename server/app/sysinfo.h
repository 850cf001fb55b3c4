#pragma once

#include "platform/registry.h"

class MessageBox;
class ProcessStarter;

// Reads the value `name` of the key `path` under `root` into `value`. False,
// with `value` emptied, when the key cannot be opened with every right or the
// value is missing or larger than 1024 bytes. Text values are taken up to
// their first NUL; numbers are written in decimal; a value of any other type
// is found but leaves `value` as it was.
bool GetKeyValue(Registry &registry, Registry::Root root, const QString &path, const QString &name,
                 QString *value);

// Starts the system-information program that the registry names, or tells
// the user that there is none.
void StartSysInfo(Registry &registry, ProcessStarter &processes, MessageBox &messages);
