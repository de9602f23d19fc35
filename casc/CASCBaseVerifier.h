#pragma once
#include <QObject>

namespace Orvane {
namespace CASC {

class CASCApplication;

class CASCBaseVerifier : public QObject
{
    Q_OBJECT

public:
    explicit CASCBaseVerifier(CASCApplication* p_Owner);

private:
    CASCApplication* m_Owner; // set once; the owner outlives it
};

} // namespace CASC
} // namespace Orvane
