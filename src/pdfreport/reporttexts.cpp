#include "pdfreport/reporttexts.h"

const ReportTexts &reportTexts()
{
    static const ReportTexts texts;
    return texts;
}
