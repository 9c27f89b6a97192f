#pragma once
#include <QString>

// Facts about the municipality and this program that windows and messages quote.
namespace Zide {
inline const QString kVersion = QStringLiteral("1.15.01");
inline const QString kWebSite = QStringLiteral("http://www.tavarel.mg.gov.br");
inline const QString kPhone = QStringLiteral("(31) 3456-7800");
inline const QString kEmail = QStringLiteral("fiscalizacao@tavarel.mg.gov.br");
inline const QString kProductTitle = QStringLiteral("ZIDE - Débito e Crédito");
}  // namespace Zide
