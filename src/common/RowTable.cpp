#include "common/RowTable.h"

#include <new>

double** New2DPointer(int rows, int cols)
{
    if (rows < 1 || cols < 1)
        return nullptr;
    double** table = new (std::nothrow) double*[rows];
    if (table == nullptr)
        return nullptr;
    for (int i = 0; i < rows; ++i) {
        table[i] = new (std::nothrow) double[cols];
        if (table[i] == nullptr) {
            for (int j = 0; j < i; ++j)
                delete[] table[j];
            delete[] table;
            return nullptr;
        }
    }
    return table;
}

void Delete2DPointer(double** table, int rows)
{
    if (table == nullptr)
        return;
    for (int i = 0; i < rows; ++i)
        delete[] table[i];
    delete[] table;
}
