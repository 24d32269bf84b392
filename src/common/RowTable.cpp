#include "common/RowTable.h"

#include "common/NewArray.h"

double** New2DPointer(int rows, int cols)
{
    if (rows < 1 || cols < 1)
        return nullptr;
    double** table = NewArray<double*>(rows).release();
    if (table == nullptr)
        return nullptr;
    for (int i = 0; i < rows; ++i) {
        table[i] = NewArray<double>(cols).release();
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

int64_t ClassRowTotal(int nClassNum, const int* pnClassSampNum)
{
    if (nClassNum < 1)
        return 0;
    if (pnClassSampNum == nullptr)
        return -1;
    int64_t total = 0;
    for (int i = 0; i < nClassNum; ++i) {
        if (pnClassSampNum[i] < 1)
            return -1;
        total += pnClassSampNum[i];
    }
    return total;
}
