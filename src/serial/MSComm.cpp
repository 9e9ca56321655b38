#include "serial/MSComm.h"

#include <algorithm>

std::string PortErrorMessage(bool opening, int port, const std::string& device,
                             const PortStatus& status) {
    std::string where = "串行口 COM" + std::to_string(port) + "（" +
                        (device.empty() ? std::string("无对应设备") : device) + "）";
    std::string why;
    switch (status.error) {
        case PortError::NotFound:
            why = "设备不存在。";
            break;
        case PortError::Busy:
            why = "设备已被其他程序占用。";
            break;
        case PortError::Permission:
            why = "没有访问权限。请把当前用户加入 dialout 组，重新登录后再试。";
            break;
        case PortError::Gone:
            why = "设备已断开（适配器被拔出？）。";
            break;
        case PortError::Unsupported:
            why = "设备不支持这些通讯参数。";
            break;
        default:
            why = "发生错误。";
            break;
    }
    if (!status.detail.empty()) why += "\r\n(" + status.detail + ")";
    if (opening) return "无法打开" + where + "：" + why;
    if (status.error == PortError::Gone)
        return where + "已断开：" + why + "\r\n请检查连接，然后用“通讯设置”重新打开串口。";
    return where + "出错：" + why;
}

void CMSComm::Report(const std::string& text) {
    if (m_report) m_report(text);
}

std::string CMSComm::PortName() const {
    return "COM" + std::to_string(m_port);
}

bool CMSComm::Check(const PortStatus& status) {
    if (status.ok()) return true;
    if (status.error == PortError::Gone) {
        m_device.Close();  // counts as closed from now on, so the loss is told only once
        Report(PortErrorMessage(false, m_port, m_devicePath, status));
    }
    return false;
}

void CMSComm::SetSettings(const std::string& text) {
    std::string why;
    auto parsed = ParseSettings(text, &why);
    if (!parsed) {
        Report("串行口参数无效：“" + text + "”\r\n(" + why + ")");
        return;
    }
    m_settingsText = text;
    m_settings = *parsed;
    if (!m_device.IsOpen()) return;
    PortStatus st = m_device.Configure(m_settings);
    if (!st.ok() && st.error != PortError::Gone)
        Report(PortErrorMessage(false, m_port, m_devicePath, st));
    Check(st);
}

void CMSComm::SetPortOpen(bool open) {
    if (!open) {
        m_device.Close();
        return;
    }
    if (m_device.IsOpen()) return;
    m_devicePath = m_namer(m_port);
    PortStatus st = m_devicePath.empty() ? PortStatus{PortError::NotFound, ""}
                                         : m_device.Open(m_devicePath, m_settings);
    if (!st.ok()) Report(PortErrorMessage(true, m_port, m_devicePath, st));
}

short CMSComm::GetInBufferCount() {
    if (!m_device.IsOpen()) return 0;
    size_t n = 0;
    if (!Check(m_device.Pending(n))) return 0;
    return static_cast<short>(std::min(n, kMaxRead));
}

void CMSComm::SetInBufferCount(short count) {
    if (count != 0 || !m_device.IsOpen()) return;
    size_t n = 0;
    if (!Check(m_device.Pending(n))) return;
    ByteBlock dropped;
    Check(m_device.Read(n, dropped));
}

void CMSComm::SetOutput(const ByteBlock& bytes) {
    if (!m_device.IsOpen()) return;
    Check(m_device.Write(bytes));
}

ByteBlock CMSComm::GetInput() {
    ByteBlock out;
    if (!m_device.IsOpen()) return out;
    size_t n = 0;
    if (!Check(m_device.Pending(n))) return out;
    if (m_inputLen > 0) {
        Check(m_device.Read(std::min<size_t>(n, static_cast<size_t>(m_inputLen)), out));
        return out;
    }
    if (n > kMaxRead) {
        ByteBlock older;
        if (!Check(m_device.Read(n - kMaxRead, older))) return out;
    }
    Check(m_device.Read(kMaxRead, out));
    return out;
}
