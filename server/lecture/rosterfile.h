#pragma once

#include "server/lecture/rostergrid.h"

#include <QStringView>
#include <vector>

// The student block of a roster file: the lines between "<start data>" and
// "<end data>", one student each, "user ID,name".
struct StudentBlock
{
    enum Status {
        Loaded,    // rows hold the students and the total line
        NoBlock,   // the file has no start marker: nothing to load
        Malformed, // a student line without ",", or no end marker
    };
    Status status = NoBlock;
    std::vector<RosterGrid::Row> rows;
    int studentCount = 0;
};

StudentBlock readStudentBlock(QStringView text);
