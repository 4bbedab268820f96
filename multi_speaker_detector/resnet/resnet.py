"""ResNet in PyTorch.

Some modifications from the original architecture:
1. Smaller kernel size for the input layer
2. Smaller number of Channels
3. No max_pooling involved

Reference:
[1] Kaiming He, Xiangyu Zhang, Shaoqing Ren, Jian Sun
    Deep Residual Learning for Image Recognition. arXiv:1512.03385
"""

import torch
import torch.nn as nn
import torch.nn.functional as F

from . import pooling_layers


class BasicBlock(nn.Module):
    expansion = 1

    def __init__(self, in_planes, planes, stride=1):
        super(BasicBlock, self).__init__()
        self.conv1 = nn.Conv2d(in_planes, planes, kernel_size=3, stride=stride,
                               padding=1, bias=False)
        self.bn1 = nn.BatchNorm2d(planes)
        self.conv2 = nn.Conv2d(planes, planes, kernel_size=3, stride=1,
                               padding=1, bias=False)
        self.bn2 = nn.BatchNorm2d(planes)

        # Attribute names and child positions here are the saved-weight keys.
        self.shortcut = nn.Sequential()
        if stride != 1 or in_planes != self.expansion * planes:
            self.shortcut = nn.Sequential(
                nn.Conv2d(in_planes, self.expansion * planes, kernel_size=1,
                          stride=stride, bias=False),
                nn.BatchNorm2d(self.expansion * planes))

    def forward(self, x):
        out = F.relu(self.bn1(self.conv1(x)))
        out = self.bn2(self.conv2(out))
        # Accumulate into the main path's fresh result, never into x.
        out += self.shortcut(x)
        out = F.relu(out)
        return out


class Bottleneck(nn.Module):
    expansion = 4

    def __init__(self, in_planes, planes, stride=1):
        super(Bottleneck, self).__init__()
        self.conv1 = nn.Conv2d(in_planes, planes, kernel_size=1, bias=False)
        self.bn1 = nn.BatchNorm2d(planes)
        self.conv2 = nn.Conv2d(planes, planes, kernel_size=3, stride=stride,
                               padding=1, bias=False)
        self.bn2 = nn.BatchNorm2d(planes)
        self.conv3 = nn.Conv2d(planes, self.expansion * planes, kernel_size=1,
                               bias=False)
        self.bn3 = nn.BatchNorm2d(self.expansion * planes)

        self.shortcut = nn.Sequential()
        if stride != 1 or in_planes != self.expansion * planes:
            self.shortcut = nn.Sequential(
                nn.Conv2d(in_planes, self.expansion * planes, kernel_size=1,
                          stride=stride, bias=False),
                nn.BatchNorm2d(self.expansion * planes))

    def forward(self, x):
        out = F.relu(self.bn1(self.conv1(x)))
        out = F.relu(self.bn2(self.conv2(out)))
        out = self.bn3(self.conv3(out))
        out += self.shortcut(x)
        out = F.relu(out)
        return out


class ResNet(nn.Module):

    def __init__(self,
                 block,
                 num_blocks,
                 m_channels=32,
                 feat_dim=40,
                 embed_dim=128,
                 pooling_func="TSTP",
                 two_emb_layer=False):
        super(ResNet, self).__init__()
        self.in_planes = m_channels
        self.feat_dim = feat_dim
        self.embed_dim = embed_dim
        # Frequency shrinks by 8 through the stages; for feat_dim a multiple
        # of 8 this is the width of one stage-4 frame per unit of expansion.
        self.stats_dim = int(feat_dim / 8) * m_channels * 8
        self.two_emb_layer = two_emb_layer

        self.conv1 = nn.Conv2d(1, m_channels, kernel_size=3, stride=1,
                               padding=1, bias=False)
        self.bn1 = nn.BatchNorm2d(m_channels)
        self.layer1 = self._make_layer(block, m_channels, num_blocks[0],
                                       stride=1)
        self.layer2 = self._make_layer(block, m_channels * 2, num_blocks[1],
                                       stride=2)
        self.layer3 = self._make_layer(block, m_channels * 4, num_blocks[2],
                                       stride=2)
        self.layer4 = self._make_layer(block, m_channels * 8, num_blocks[3],
                                       stride=2)

        self.pool = getattr(pooling_layers, pooling_func)(
            in_dim=self.stats_dim * block.expansion)
        self.pool_out_dim = self.pool.get_out_dim()
        self.seg_1 = nn.Linear(self.pool_out_dim, embed_dim)
        if self.two_emb_layer:
            self.seg_bn_1 = nn.BatchNorm1d(embed_dim, affine=False)
            self.seg_2 = nn.Linear(embed_dim, embed_dim)
        else:
            self.seg_bn_1 = nn.Identity()
            self.seg_2 = nn.Identity()

    def _make_layer(self, block, planes, num_blocks, stride):
        # Only the first block of a stage strides; a stage always has a block.
        strides = [stride] + [1] * (num_blocks - 1)
        layers = []
        for s in strides:
            layers.append(block(self.in_planes, planes, s))
            self.in_planes = planes * block.expansion
        return nn.Sequential(*layers)

    def _get_frame_level_feat(self, x):
        # (B, T, F) -> (B, 1, F, T): frequency is the image height.  The
        # in-place unsqueeze acts on the permuted view, not the caller's tensor.
        x = x.permute(0, 2, 1)
        x = x.unsqueeze_(1)
        out = F.relu(self.bn1(self.conv1(x)))
        out = self.layer1(out)
        out = self.layer2(out)
        out = self.layer3(out)
        out = self.layer4(out)
        return out

    def get_frame_level_feat(self, x):
        out = self._get_frame_level_feat(x)
        out = out.transpose(1, 3)
        out = torch.flatten(out, 2, -1)
        return out

    def forward(self, x):
        out = self._get_frame_level_feat(x)
        stats = self.pool(out)
        embed_a = self.seg_1(stats)
        if self.two_emb_layer:
            out = F.relu(embed_a)
            out = self.seg_bn_1(out)
            embed_b = self.seg_2(out)
            return embed_a, embed_b
        else:
            return torch.tensor(0.0), embed_a


def ResNet18(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(BasicBlock, [2, 2, 2, 2],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet34(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(BasicBlock, [3, 4, 6, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet50(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(Bottleneck, [3, 4, 6, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet101(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(Bottleneck, [3, 4, 23, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet152(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(Bottleneck, [3, 8, 36, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet221(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(Bottleneck, [6, 16, 48, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


def ResNet293(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    return ResNet(Bottleneck, [10, 20, 64, 3],
                  feat_dim=feat_dim,
                  embed_dim=embed_dim,
                  pooling_func=pooling_func,
                  two_emb_layer=two_emb_layer)


class NoisyDetectorV2(nn.Module):

    def __init__(self, n_fft=512, stride=256, window="hann"):
        super(NoisyDetectorV2, self).__init__()
        self.n_fft = n_fft
        self.stride = stride
        self.window = window
        # Built for 256 bins: a 512-point one-sided spectrum less its top bin.
        self.model_backbone = ResNet34(feat_dim=256, embed_dim=2,
                                       two_emb_layer=False)

    def forward(self, input):
        """
        input.shape = [B, 1, t]
        """
        window = getattr(torch, self.window + "_window")(
            self.n_fft, dtype=input.dtype, device=input.device)
        stft_sepc = torch.stft(input[:, 0],
                               n_fft=self.n_fft,
                               win_length=self.n_fft,
                               hop_length=self.stride,
                               window=window,
                               return_complex=True,
                               onesided=True)
        stft_sepc = stft_sepc[:, :-1, :].transpose(1, 2)
        stft_mag = torch.abs(stft_sepc) + 1e-12
        stft_log = torch.log(stft_mag)
        feat_out = self.model_backbone(stft_log)
        embed_a = feat_out[-1]
        return embed_a


class NoisyDetectorV2onnx(nn.Module):
    """Export form: takes the spectrum as real and imaginary planes and
    returns the multi-speaker rate itself."""

    def __init__(self, n_fft=512, stride=256, window="hann"):
        super(NoisyDetectorV2onnx, self).__init__()
        self.n_fft = n_fft
        self.stride = stride
        self.window = window
        self.model_backbone = ResNet34(feat_dim=256, embed_dim=2,
                                       two_emb_layer=False)

    def forward(self, input):
        """
        input.shape = [B, 2, T, F]
        """
        spec_mag = torch.sqrt(input[:, 0] ** 2 + input[:, 1] ** 2)[..., :-1]
        stft_log = torch.log(spec_mag + 1e-7)
        feat_out = self.model_backbone(stft_log)
        logits = feat_out[-1]
        # Each class gets its own sigmoid; the rate is class 1's share.
        prob = torch.sigmoid(logits)
        noisy_rate = prob[:, 1] / torch.sum(prob, dim=-1)
        return noisy_rate


if __name__ == "__main__":
    x = torch.zeros(1, 1, 16498)
    model = NoisyDetectorV2()
    model.eval()
    out = model(x)
    print(out.shape)
    num_params = sum(param.numel() for param in model.parameters())
    print("{} M".format(num_params / 1e6))
