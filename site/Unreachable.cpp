#include "site/Unreachable.h"

#include "platform/Seam.h"
#include "platform/Translation.h"

#include <QStringList>

namespace lynx::site {

namespace {

QString CardText(const std::string& name, const QStringList& addresses)
{
    return platform::Tr("网卡 %1 为 %2").arg(QString::fromStdString(name), addresses.join(platform::Tr("、")));
}

} // namespace

std::string UnreachableText(const protocol::Reachability& reach)
{
    if (reach.reachable)
        return {};
    if (reach.named.empty())
        return platform::TrUtf8("不在本机网段：本机没有IPv4地址");
    // One part per card, its addresses together, in the order the cards come.
    QStringList cards;
    std::string current;
    QStringList addresses;
    for (const platform::Ipv4Interface& card : reach.named) {
        if (card.name != current && !addresses.isEmpty()) {
            cards << CardText(current, addresses);
            addresses.clear();
        }
        current = card.name;
        addresses << QString::fromStdString(card.address + "/" + std::to_string(card.prefixLength));
    }
    cards << CardText(current, addresses);
    return platform::Tr("不在本机网段：%1").arg(cards.join(platform::Tr("；"))).toStdString();
}

CardsProvider SetCardsProvider(CardsProvider provider)
{
    return platform::Seam<CardsProvider, CardSubnets>::Replace(std::move(provider));
}

CardSubnets::CardSubnets()
{
    const CardsProvider& provider = platform::Seam<CardsProvider, CardSubnets>::Current();
    m_cards = provider ? provider() : platform::Ipv4Interfaces().value_or(std::vector<platform::Ipv4Interface>{});
}

std::string CardSubnets::UnreachableReason(const DeviceRecord& record, const protocol::ReportArrival& arrival) const
{
    return UnreachableText(protocol::ReachabilityOf(protocol::FieldText(record.deviceIp), arrival, m_cards));
}

} // namespace lynx::site
