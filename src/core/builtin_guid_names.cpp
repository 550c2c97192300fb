#include "core/builtin_guid_names.h"

namespace merovane {

namespace {

constexpr GuidName kNames[] = {
    {L"{7820AE74-23E3-4229-82C1-E41CB67D5B9C}", L"Центр уведомлений"},
    {L"{D36B22A6-995E-4340-8339-3DE08C6840DF}", L"Сеть"},
    {L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}", L"Питание/Батарея"},
    {L"{7820AE75-23E3-4229-82C1-E41CB67D5B9C}", L"Громкость"},
    {L"{3BEDBA3C-05D1-48AE-BD92-E407D378522F}", L"Сенсорная клавиатура"},
    {L"{7820AE78-23E3-4229-82C1-E41CB67D5B9C}", L"Безопасное извлечение устройств и дисков"},
    {L"{16D5471A-2359-44B0-9585-E95E189DBB3F}", L"Режим планшета"},
    {L"{6DA68F06-00F1-4E6E-8158-7F1FFD4F9DB9}", L"Устройства Bluetooth"},
    {L"{A2561E3E-43A9-4243-830D-36EA902A8F30}", L"Уведомления"},
    {L"{CB3191A8-6BAC-474E-85B7-788AD9F1909C}", L"Bluetooth"},
    {L"{3F3B0AA6-2B8A-4F5A-8F39-8578C7E2B6D7}", L"Безопасное извлечение"},
    {L"{26986318-6B6D-4BB7-A5E5-7C9426A1051D}", L"OneDrive"},
    {L"{7195C67D-8F09-41F1-9254-CA9A0E8B5BAE}", L"NVIDIA"},
    {L"{7A7F07F7-9675-4C45-B864-44832D5B7C72}", L"AMD"},
    {L"{8E6E9A6A-4B0E-4B2F-9B6A-5A5F5E5A5E5A}", L"Intel Graphics"},
    {L"{3DCE0E71-7534-4FB3-8E6D-30B1A35283C9}", L"Сеть"},
    {L"{E7DE9B1A-7534-4FB3-8E6D-30B1A35283C9}", L"Звук"},
    {L"{E3C2A8AD-6D7F-4BBA-8E97-2B857ADA7F4B}", L"Питание"},
    {L"{00C89FF1-A2B3-4A4B-8DD4-B52CBECA6D3F}", L"Быстрые действия"},
    {L"{5E5E29C9-48A9-4C5A-82F7-62B6F4A2A0E7}", L"Синхронизация"},
    {L"{F2117F4F-0D7A-4D5A-9F4F-0D7A4D5A9F4F}", L"Realtek Audio"},
    {L"{D45A7A7A-7A7A-7A7A-7A7A-7A7A7A7A7A7A}", L"Dolby Audio"},
    {L"{D34C731A-EE6F-4B4A-B6D2-9E6A74F37F9B}", L"Режим планшета"},
    {L"{914E67A1-4B6D-4B0A-9B7A-0D9E7A5D9F5E}", L"Сенсорная клавиатура"},
    {L"{B28A8A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Проектор"},
    {L"{C48B8A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Подключение к дисплею"},
    {L"{024E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Виджеты"},
    {L"{135E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Microsoft Teams"},
    {L"{246E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Поиск Windows"},
    {L"{357E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Просмотр задач"},
    {L"{80F3F1D5-FECA-45F3-BC32-2C6B5E5E5E5E}", L"Пункт управления"},
    {L"{468E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Дата и время"},
    {L"{680E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Раскладка клавиатуры"},
    {L"{A24E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Режим фокуса"},
    {L"{D59B8A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Геолокация"},
    {L"{E62B8A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Виртуальные рабочие столы"},
    {L"{F73B8A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Прикрепление окон"},
    {L"{791E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Сенсорный указатель"},
    {L"{802E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Перо и рукописный ввод"},
    {L"{913E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Панель игр"},
    {L"{B35E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Быстрые настройки"},
    {L"{C46E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Мини-приложения"},
    {L"{D57E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Экранный диктор"},
    {L"{E68E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Лупа"},
    {L"{F79E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Клавиатура на экране"},
    {L"{089E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Высокая контрастность"},
    {L"{190E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Залипание клавиш"},
    {L"{2A1E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Озвучивание переключения"},
    {L"{3B2E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Фильтры клавиш"},
    {L"{4C3E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Скрытие мыши"},
    {L"{5D4E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Индикаторы мыши"},
    {L"{6E5E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"DirectX"},
    {L"{7F6E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Xbox Game Bar"},
    {L"{807E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Xbox Networking"},
    {L"{918E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Совет дня"},
    {L"{A29E7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Фоновые приложения"},
    {L"{B3AE7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Автозагрузка"},
    {L"{C4BE7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Быстрый доступ"},
    {L"{D5CE7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"История файлов"},
    {L"{E6DE7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Резервное копирование"},
    {L"{F7EE7A8A-7A5A-4B0A-9B7A-0D9E7A5D9F5E}", L"Облачное хранилище"},
    {L"{7820AE81-23E3-4229-82C1-E41CB67D5B9C}", L"Хост-процесс для уведомлений"},
};

} // namespace

std::span<const GuidName> BuiltinGuidNames()
{
    return kNames;
}

} // namespace merovane
