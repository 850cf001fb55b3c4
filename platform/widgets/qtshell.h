#pragma once

#include "platform/shellservices.h"
#include "platform/systemregistry.h"
#include "platform/widgets/qtdocumentopener.h"
#include "platform/widgets/qtfolderchooser.h"

// The system's own shell services for one window.
class QtShell
{
public:
    explicit QtShell(QWidget *window) : m_folders(window) {}
    ShellServices services() { return {m_folders, m_documents, m_registry}; }

private:
    QtFolderChooser m_folders;
    QtDocumentOpener m_documents;
    SystemRegistry m_registry;
};
